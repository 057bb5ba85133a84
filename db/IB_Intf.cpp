#include "IB_Intf.h"

#include "SysUtils.h"

#include <QRegularExpression>

#include <dlfcn.h>

#include <cstdarg>
#include <mutex>
#include <vector>

#if defined(__i386__) || defined(__x86_64__)
#include <fpu_control.h>
#endif

namespace {

// The loader gives no error number, only a text. These are the codes the program's own
// platform uses for the same two failures, so the message keeps the shape users know:
// 126 "module not found" and 127 "procedure not found".
constexpr qint32 ModuleNotFoundCode = 126;
constexpr qint32 ProcedureNotFoundCode = 127;

// Handles up to this value mean "nothing loaded"; unloading stores it.
constexpr std::uintptr_t NoLibraryHandle = 32;

[[noreturn]] void RaiseOSError(qint32 code, const QString& systemText) {
    if (code == 0)
        throw EOSError(QStringLiteral("Un appel à une fonction du système d'exploitation a échoué"),
                       0);
    throw EOSError(Format(QStringLiteral("Erreur système.  Code : %d.") + QStringLiteral("\r\n") +
                              QStringLiteral("%s%s"),
                          code, systemText, QString()),
                   code);
}

QString LoaderErrorText() {
    const char* text = dlerror();
    return text ? QString::fromLocal8Bit(text) : QString();
}

// Set while the process-wide list is being freed after main.
bool ProcessEnding = false;

// Process-wide, created before main and freed after it; freeing the list drops the last
// references and so unloads every library still loaded.
std::mutex RegistryLock;
struct TRegistry : std::vector<IIBClientLibraryPtr> {
    ~TRegistry() { ProcessEnding = true; }
} Registry;

// Clears the busy flag when the call leaves, whether it returns or raises.
class TBusyScope {
public:
    explicit TBusyScope(std::atomic<bool>& flag) : FFlag(flag) {
        FFlag.store(true, std::memory_order_relaxed);
    }
    ~TBusyScope() { FFlag.store(false, std::memory_order_relaxed); }
    TBusyScope(const TBusyScope&) = delete;
    TBusyScope& operator=(const TBusyScope&) = delete;

private:
    std::atomic<bool>& FFlag;
};

} // namespace

QString PlatformLibraryFileName(const QString& name) {
    static const QRegularExpression FirebirdClient(QStringLiteral("^(fbclient|gds32)\\.dll$"),
                                                   QRegularExpression::CaseInsensitiveOption);
    if (FirebirdClient.match(name).hasMatch()) return QStringLiteral("libfbclient.so.2");
    return name;
}

ISC_STATUS* StatusVector() {
    thread_local ISC_STATUS vector[StatusVectorLength] = {};
    return vector;
}

void RestoreFPUControlWord() {
#if defined(__i386__) || defined(__x86_64__)
    // glibc keeps the word it installed at start-up; that is the process default.
    fpu_control_t word = __fpu_control;
    _FPU_SETCW(word);
#endif
}

void SetFPUExtendedPrecision() {
#if defined(__i386__) || defined(__x86_64__)
    fpu_control_t word;
    _FPU_GETCW(word);
    word |= _FPU_EXTENDED;
    _FPU_SETCW(word);
#endif
}

IIBClientLibraryPtr GetClientLibrary(const QString& name) {
    std::lock_guard<std::mutex> lock(RegistryLock);
    for (const IIBClientLibraryPtr& library : Registry) {
        if (library->GetLibraryName() != name) continue;
        if (!library->LibraryLoaded()) library->LoadIBLibrary();
        return library;
    }
    auto library = std::make_shared<TIBClientLibrary>(name);
    Registry.push_back(library);
    return library;
}

// --- TIBClientLibrary: life cycle ------------------------------------------------------------

TIBClientLibrary::TIBClientLibrary(const QString& libraryName) : FLibraryName(libraryName) {
    LoadIBLibrary();
}

TIBClientLibrary::~TIBClientLibrary() {
    FreeIBLibrary();
}

QString TIBClientLibrary::GetLibraryName() {
    return FLibraryName;
}
qint32 TIBClientLibrary::GetIBClientVersion() {
    return FIBClientVersion;
}
qint32 TIBClientLibrary::GetIBClientMinorVersion() {
    return FIBClientMinorVersion;
}
bool TIBClientLibrary::GetBusy() {
    return FBusy.load(std::memory_order_relaxed);
}

bool TIBClientLibrary::LibraryLoaded() {
    return FLibraryHandle > NoLibraryHandle;
}

void TIBClientLibrary::FreeIBLibrary() {
    if (FLibraryHandle <= NoLibraryHandle) return;
#ifdef RAVELIN_SANITIZE
    // The leak checker makes its last scan after the static objects are gone, while the
    // client library's own threads may still be winding down; their code must not be unmapped
    // under them then. The process is ending and the system unmaps everything anyway, so a
    // sanitizer build keeps the library mapped until then.
    if (!ProcessEnding)
#endif
        dlclose(reinterpret_cast<void*>(FLibraryHandle));
    FLibraryHandle = NoLibraryHandle;
    // The addresses now point into unmapped memory; an empty field raises instead of jumping.
    ClearEntryPoints();
}

void* TIBClientLibrary::Resolve(const char* name, bool required) {
    dlerror();
    void* address = dlsym(reinterpret_cast<void*>(FLibraryHandle), name);
    if (address) return address;
    QString reason = LoaderErrorText();
    if (required)
        RaiseOSError(ProcedureNotFoundCode, reason.isEmpty() ? QString::fromLatin1(name) : reason);
    return nullptr;
}

void TIBClientLibrary::ClearEntryPoints() {
#define RAVELIN_IB_CLEAR(ret, name, params, args, group, required, kind) F##name = nullptr;
    RAVELIN_IB_ENTRY_POINTS(RAVELIN_IB_CLEAR)
#undef RAVELIN_IB_CLEAR
}

void TIBClientLibrary::ResolveGroup(TEntryGroup group) {
#define RAVELIN_IB_RESOLVE(ret, name, params, args, entryGroup, required, kind)                    \
    if (group == TEntryGroup::entryGroup)                                                          \
        F##name = reinterpret_cast<decltype(F##name)>(Resolve(#name, required));
    RAVELIN_IB_ENTRY_POINTS(RAVELIN_IB_RESOLVE)
#undef RAVELIN_IB_RESOLVE
}

void TIBClientLibrary::LoadIBLibrary() {
    // A second load of a loaded object would hold two loader references and release one.
    FreeIBLibrary();
    ClearEntryPoints();

    const QByteArray file = PlatformLibraryFileName(FLibraryName).toLocal8Bit();
    void* handle = dlopen(file.constData(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        FLibraryHandle = 0;
        RaiseOSError(ModuleNotFoundCode, LoaderErrorText());
    }
    FLibraryHandle = reinterpret_cast<std::uintptr_t>(handle);

    // A library lacking something we need must not stay half-bound: the object is then either
    // discarded (creation) or left unloaded, and the next request tries again.
    try {
        ResolveGroup(TEntryGroup::Base);
        // Retaining rollback came with version 6, together with the services and the SQL date
        // types; its absence marks an older client that has none of them.
        FIBClientVersion = Fisc_rollback_retaining ? 6 : 5;
        FIBClientMinorVersion = 0;
        if (Fisc_rollback_retaining) ResolveGroup(TEntryGroup::Version6);
        if (Fisc_get_client_version) {
            ResolveGroup(TEntryGroup::Versioned);
            FIBClientVersion = Fisc_get_client_major_version();
            FIBClientMinorVersion = Fisc_get_client_minor_version();
        }
    } catch (...) {
        FreeIBLibrary();
        throw;
    }

    SetFPUExtendedPrecision();
}

// --- TIBClientLibrary: calling the entry points ----------------------------------------------

void TIBClientLibrary::RaiseMissingProcedure(const char* name) const {
    throw Exception(Format(QStringLiteral("Can't find procedure %s in %s"), name, FLibraryName));
}

// Every kind checks the field: besides the optional entry points, a field is empty when the
// library was unloaded, and raising beats jumping to address zero.
#define RAVELIN_IB_FORWARD_Busy(ret, name, params, args)                                           \
    ret TIBClientLibrary::name params {                                                            \
        if (!F##name) RaiseMissingProcedure(#name);                                                \
        TBusyScope busy(FBusy);                                                                    \
        return F##name args;                                                                       \
    }
#define RAVELIN_IB_FORWARD_Quiet(ret, name, params, args)                                          \
    ret TIBClientLibrary::name params {                                                            \
        if (!F##name) RaiseMissingProcedure(#name);                                                \
        return F##name args;                                                                       \
    }
RAVELIN_IB_ENTRY_POINTS(RAVELIN_IB_FORWARD_BY_KIND)
#undef RAVELIN_IB_FORWARD_Busy
#undef RAVELIN_IB_FORWARD_Quiet

ISC_LONG TIBClientLibrary::isc_event_block(ISC_UCHAR** eventBuffer, ISC_UCHAR** resultBuffer,
                                           ISC_USHORT count, ...) {
    va_list list;
    va_start(list, count);
    const TEventNames names = ReadEventNames(count, list);
    va_end(list);
    if (!Fisc_event_block) RaiseMissingProcedure("isc_event_block");
    TBusyScope busy(FBusy);
    return PassEventNames(Fisc_event_block, eventBuffer, resultBuffer, names);
}

ISC_LONG TIBClientLibrary::fb_interpret(ISC_SCHAR* buffer, unsigned int size,
                                        const ISC_STATUS** status) {
    // Older clients only know the unbounded form; error reporting gives a buffer large enough
    // for either.
    if (!Ffb_interpret) return isc_interprete(buffer, status);
    TBusyScope busy(FBusy);
    return Ffb_interpret(buffer, size, status);
}

TEventNames ReadEventNames(ISC_USHORT count, va_list list) {
    TEventNames names;
    names.Count = count > TEventNames::MaxEvents ? TEventNames::MaxEvents : count;
    for (int i = 0; i < names.Count; ++i)
        names.Names[i] = va_arg(list, char*);
    return names;
}
