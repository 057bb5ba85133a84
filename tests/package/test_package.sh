#!/usr/bin/env bash
# The .deb of the current build tree, checked as a back office would receive it: its control
# fields, its exact file list, a desktop entry that finds its program and its icon, a program
# that needs nothing from the build tree, built with Debian's hardening and holding no password;
# then that installed program, started offscreen without a workstation configuration and with
# one naming an account, must attach to nothing (as the server itself sees in
# MON$ATTACHMENTS), wait for its user, and end with status 0 on SIGTERM.
#
# Environment (set by ctest): RAVELIN_BUILD_DIR, RAVELIN_SOURCE_DIR, RAVELIN_FB_ROOT (a running
# instance, from the "firebird" fixture), RAVELIN_VERSION, RAVELIN_ICON_SIZES (the bitmap sizes
# this tree draws, empty without rsvg-convert).
set -euo pipefail

BUILD_DIR=${RAVELIN_BUILD_DIR:?}
SOURCE_DIR=${RAVELIN_SOURCE_DIR:?}
FB_ROOT=$(cd "${RAVELIN_FB_ROOT:?}" && pwd -P)
VERSION=${RAVELIN_VERSION:?}
read -r -a TAILLES <<<"${RAVELIN_ICON_SIZES:-}"
MDP=
PID_PROGRAMME=
echecs=0

TMP=$(mktemp -d "${TMPDIR:-/tmp}/ravelin-paquet.XXXXXX")
TMP=$(cd "$TMP" && pwd -P)
nettoyer() {
    if [[ -n $PID_PROGRAMME ]] && kill -0 "$PID_PROGRAMME" 2>/dev/null; then
        kill -KILL "$PID_PROGRAMME" 2>/dev/null || true
        wait "$PID_PROGRAMME" 2>/dev/null || true
    fi
    rm -rf "$TMP"
}
trap nettoyer EXIT

echec() {
    echo "ÉCHEC : $*" >&2
    echecs=$((echecs + 1))
}

fatal() {
    echo "ÉCHEC : $*" >&2
    exit 1
}

# ---------------------------------------------------------------------------------------------
# The package

cpack --config "$BUILD_DIR/CPackConfig.cmake" -G DEB -B "$TMP/cpack" >"$TMP/cpack.log" 2>&1 ||
    { cat "$TMP/cpack.log" >&2; fatal "cpack a échoué"; }
shopt -s nullglob
debs=("$TMP"/cpack/*.deb)
shopt -u nullglob
((${#debs[@]} == 1)) || fatal "cpack devait produire un seul .deb, trouvé : ${debs[*]:-aucun}"
DEB=${debs[0]}
ARCH=$(dpkg --print-architecture)
[[ $(basename "$DEB") == "ravelin_${VERSION}_${ARCH}.deb" ]] ||
    echec "nom du paquet : $(basename "$DEB"), attendu ravelin_${VERSION}_${ARCH}.deb"

champ() {
    dpkg-deb -f "$DEB" "$1"
}
[[ $(champ Package) == ravelin ]] || echec "Package : $(champ Package)"
[[ $(champ Version) == "$VERSION" ]] || echec "Version : $(champ Version), attendu $VERSION"
[[ $(champ Architecture) == "$ARCH" ]] || echec "Architecture : $(champ Architecture)"
for f in Maintainer Section Priority Description; do
    [[ -n $(champ "$f") ]] || echec "champ $f vide"
done

# Every dependency must be a real package of this system (the program runs here with them), the
# Qt libraries it links and the client library it opens must be among them, the server never.
depends=$(champ Depends)
declare -A dependances=()
IFS=',' read -r -a alternatives <<<"$depends"
for alt in "${alternatives[@]}"; do
    IFS='|' read -r -a choix <<<"$alt"
    for c in "${choix[@]}"; do
        read -r nom _ <<<"$c"
        dependances[$nom]=1
        dpkg-query -W -f='${Package}\n' "$nom" >/dev/null 2>&1 ||
            echec "dépendance « $nom » inconnue de dpkg"
        [[ $nom =~ ^firebird.*-(server|utils)(-core)?$ ]] && echec "dépendance au serveur : $nom"
    done
done
for nom in libfbclient2 libqt6core6 libqt6gui6 libqt6widgets6 qt6-translations-l10n; do
    [[ -n ${dependances[$nom]:-} ]] || echec "Depends sans $nom : $depends"
done

# The files, exactly: the program under its installed name, its desktop entry, its icons, the
# role's script; never the password tool, never a second copy of the program. Everything
# root's, readable by all.
attendus=(./usr/bin/ravelin ./usr/share/applications/ravelin.desktop
          ./usr/share/icons/hicolor/scalable/apps/ravelin.svg ./usr/share/ravelin/droits.sql)
for t in "${TAILLES[@]}"; do
    attendus+=("./usr/share/icons/hicolor/${t}x${t}/apps/ravelin.png")
done
dpkg-deb -c "$DEB" >"$TMP/contenu"
diff <(printf '%s\n' "${attendus[@]}" | sort) \
     <(awk '$1 !~ /^d/ {print $6}' "$TMP/contenu" | sort) >&2 ||
    echec "fichiers du paquet différents de ceux attendus (< attendu, > trouvé)"
while read -r droits proprio _ _ _ chemin; do
    case $droits in
        d*) attendu=drwxr-xr-x ;;
        *) [[ $chemin == ./usr/bin/* ]] && attendu=-rwxr-xr-x || attendu=-rw-r--r-- ;;
    esac
    [[ $droits == "$attendu" ]] || echec "$chemin : droits $droits, attendu $attendu"
    [[ $proprio == root/root ]] || echec "$chemin : propriétaire $proprio"
done <"$TMP/contenu"

RACINE=$TMP/racine
dpkg-deb -x "$DEB" "$RACINE"
PROGRAMME=$RACINE/usr/bin/ravelin
[[ -x $PROGRAMME ]] || fatal "programme absent du paquet"
# The role's script as the sources hold it: the one the administrator's step runs.
cmp -s "$RACINE/usr/share/ravelin/droits.sql" "$SOURCE_DIR/sql/droits.sql" ||
    echec "/usr/share/ravelin/droits.sql n'est pas sql/droits.sql"
grep -q '^CREATE ROLE RAVELIN;' "$RACINE/usr/share/ravelin/droits.sql" ||
    echec "droits.sql ne crée pas le rôle RAVELIN"

# ---------------------------------------------------------------------------------------------
# The desktop entry and the icons

BUREAU=$RACINE/usr/share/applications/ravelin.desktop
if command -v desktop-file-validate >/dev/null; then
    desktop-file-validate "$BUREAU" >&2 || echec "desktop-file-validate refuse ravelin.desktop"
fi
cle() {
    sed -n "s/^$1=//p" "$BUREAU" | head -n 1
}
read -r exec_programme _ <<<"$(cle Exec)"
[[ -x $RACINE/usr/bin/$exec_programme ]] ||
    echec "Exec=$(cle Exec) ne désigne pas un programme du paquet"
[[ -f $RACINE/usr/share/icons/hicolor/scalable/apps/$(cle Icon).svg ]] ||
    echec "Icon=$(cle Icon) ne désigne pas l'icône du paquet"
[[ $(cle Name) == Ravelin ]] || echec "Name=$(cle Name)"
grep -q '<svg' "$RACINE/usr/share/icons/hicolor/scalable/apps/ravelin.svg" ||
    echec "ravelin.svg n'est pas un SVG"
for t in "${TAILLES[@]}"; do
    png=$RACINE/usr/share/icons/hicolor/${t}x${t}/apps/ravelin.png
    [[ -f $png ]] || continue
    # The PNG header: signature, IHDR, then width and height as 32-bit big-endian numbers.
    dims=$(od -An -tu1 -j16 -N8 "$png" | tr -s ' ')
    [[ $dims == " 0 0 $((t >> 8)) $((t & 255)) 0 0 $((t >> 8)) $((t & 255))" ]] ||
        echec "icône ${t}x${t} : dimensions lues $dims"
done

# ---------------------------------------------------------------------------------------------
# The installed program: nothing of it leads back to the build or source tree

dynamique=$(readelf -d "$PROGRAMME")
while read -r chemin; do
    [[ -z $chemin ]] && continue
    [[ $chemin == "$BUILD_DIR"* || $chemin == "$SOURCE_DIR"* ]] &&
        echec "RPATH/RUNPATH du programme installé vers l'arbre de construction : $chemin"
done < <(sed -n 's/.*(\(RPATH\|RUNPATH\)).*\[\(.*\)\]/\2/p' <<<"$dynamique" | tr ':' '\n')
manquantes=$(env -i PATH=/usr/bin:/bin ldd "$PROGRAMME" | grep 'not found' || true)
[[ -z $manquantes ]] || echec "bibliothèques introuvables pour le programme installé : $manquantes"
if env -i PATH=/usr/bin:/bin ldd "$PROGRAMME" | grep -qF -e "$BUILD_DIR" -e "$SOURCE_DIR"; then
    echec "le programme installé charge une bibliothèque de l'arbre de construction"
fi

# ---------------------------------------------------------------------------------------------
# The installed program is hardened and holds no password

# Debian's hardening: full RELRO with immediate binding, and the stack protector.
[[ $dynamique =~ \(FLAGS\).*BIND_NOW || $dynamique =~ \(FLAGS_1\).*NOW ]] ||
    echec "programme installé sans BIND_NOW"
# Read whole first: grep -q leaving early would make readelf fail on its broken pipe.
entetes=$(readelf -lW "$PROGRAMME")
[[ $entetes == *GNU_RELRO* ]] || echec "programme installé sans RELRO"
symboles=$(readelf --dyn-syms -W "$PROGRAMME")
[[ $symboles == *__stack_chk_fail* ]] ||
    echec "programme installé sans protection de la pile (__stack_chk_fail absent)"

MDP=$("$BUILD_DIR/app/ravelin-motdepasse") || fatal "ravelin-motdepasse a échoué"
# The password, and the stored form the development build derives it from (each character's
# code XOR twice its position, counted from 1), in no encoding the binary could hold them.
stocke=
for ((i = 0; i < ${#MDP}; i++)); do
    printf -v c '%d' "'${MDP:i:1}"
    printf -v h '%02x' $((c ^ (2 * (i + 1))))
    printf -v stocke '%s\x'"$h" "$stocke"
done
printf -v stocke "$stocke"
textes=$(strings -a "$PROGRAMME"; strings -a -el "$PROGRAMME")
for forme in "$MDP" "$stocke"; do
    if [[ $textes == *"$forme"* ]]; then
        echec "le programme installé contient le mot de passe de la base (ou sa forme stockée)"
    fi
done

((echecs == 0)) || fatal "$echecs vérification(s) du paquet en échec"

# ---------------------------------------------------------------------------------------------
# The installed program, without a workstation configuration, connects to nothing

# Like scripts/fbinstance: the password reaches isql-fb through its environment only, and is
# masked in what it prints should the server ever quote it.
attachements() {
    local sortie rc=0
    sortie=$(printf '%s\n' "SET HEADING OFF;" \
        "SELECT 'ATT', MON\$REMOTE_PID, MON\$REMOTE_PROCESS FROM MON\$ATTACHMENTS" \
        "WHERE MON\$ATTACHMENT_ID <> CURRENT_CONNECTION AND MON\$SYSTEM_FLAG = 0;" |
        FIREBIRD=$FB_ROOT FIREBIRD_LOCK=$FB_ROOT/lock FIREBIRD_TMP=$FB_ROOT/tmp FIREBIRD_BOOT_BUILD=1 \
            ISC_USER=SYSDBA ISC_PASSWORD=$MDP isql-fb -q -b "127.0.0.1:TALVIK_GESTION" 2>&1) || rc=$?
    echo "${sortie//"$MDP"/<mot de passe>}"
    return "$rc"
}

# Started in a clean environment (a desktop session's variables, the private instance's client
# configuration, nothing from the build), once without any ravelin.conf (the box telling how to
# configure the workstation) and once with one naming an account (the login dialog): it waits
# there, attached to nothing, until SIGTERM ends it with status 0.
essayer() {
    local cas=$1 conf=$2 liste rc
    rm -rf "$TMP/home" "$TMP/xdg"
    mkdir -p "$TMP/home/.config" "$TMP/xdg"
    if [[ -n $conf ]]; then
        mkdir -p "$TMP/home/.config/ravelin"
        printf '%s\n' "$conf" >"$TMP/home/.config/ravelin/ravelin.conf"
    fi
    env -i PATH=/usr/bin:/bin HOME="$TMP/home" XDG_CONFIG_HOME="$TMP/home/.config" \
        XDG_CONFIG_DIRS="$TMP/xdg" LANG=C.UTF-8 QT_QPA_PLATFORM=offscreen FIREBIRD="$FB_ROOT" \
        FIREBIRD_BOOT_BUILD=1 "$PROGRAMME" >"$TMP/programme.log" 2>&1 &
    PID_PROGRAMME=$!
    sleep 2
    if ! kill -0 "$PID_PROGRAMME" 2>/dev/null; then
        rc=0
        wait "$PID_PROGRAMME" || rc=$?
        PID_PROGRAMME=
        cat "$TMP/programme.log" >&2
        echec "$cas : le programme installé s'est arrêté de lui-même (code $rc)"
        return
    fi
    liste=$(attachements) || { echo "$liste" >&2; fatal "requête sur MON\$ATTACHMENTS impossible"; }
    while read -r marque pid _; do
        if [[ $marque == ATT && $pid == "$PID_PROGRAMME" ]]; then
            echec "$cas : le programme installé s'est connecté (pid $pid)"
        fi
    done <<<"$liste"
    kill -TERM "$PID_PROGRAMME"
    for ((i = 0; i < 100; i++)); do
        kill -0 "$PID_PROGRAMME" 2>/dev/null || break
        sleep 0.1
    done
    kill -0 "$PID_PROGRAMME" 2>/dev/null && fatal "$cas : le programme installé tourne encore 10 s après SIGTERM"
    rc=0
    wait "$PID_PROGRAMME" || rc=$?
    PID_PROGRAMME=
    ((rc == 0)) || { cat "$TMP/programme.log" >&2; echec "$cas : fin sur SIGTERM avec le code $rc, attendu 0"; }
    if [[ -e $TMP/home/.config/Orvane_Software/Aliases.ini ]]; then
        echec "$cas : magasin d'alias écrit sans connexion"
    fi
}
essayer "sans ravelin.conf" ""
essayer "avec un compte" "$(printf '[connexion]\nutilisateur=RAVTEST_PAQUET')"

((echecs == 0)) || fatal "$echecs vérification(s) en échec"
echo "paquet $(basename "$DEB") : contrôle, fichiers, bureau, durcissement, aucun mot de passe, programme installé sans compte intégré"
