/* Volume for benchmarks: adds @NOMBRE@ French mandates to CLIENTS_MANDAT, server-side.
   Run it through scripts/volume, which fills in the count and the connection:
       scripts/volume 1000000 [ROOT]
   (ROOT: the instance folder of scripts/fbinstance; default $RAVELIN_FB_ROOT, else $FIREBIRD).
   The mandates go to the existing clients in turn and to the French banks that have a bank
   code (or the first code of their range), with pseudo-random branch codes and account numbers
   drawn from a Park-Miller generator seeded by IDGENERIQUE, so two runs add different accounts.
   Their RIB keys and IBAN check digits are computed here in BIGINT arithmetic: the 21-digit
   bank + branch + account number does not fit a BIGINT, so its remainder modulo 97 is carried
   over the three parts. References read "VOL-" and the identifier, one in ten is inactive.
   Requires at least one client and one French bank with a code. */

SET TERM ^ ;

EXECUTE BLOCK AS
    DECLARE RESTE INTEGER = @NOMBRE@;
    DECLARE GRAINE BIGINT;
    DECLARE CLI BIGINT;
    DECLARE PAYEUR VARCHAR(71);
    DECLARE BANQ BIGINT;
    DECLARE CODE VARCHAR(5);
    DECLARE BIC VARCHAR(11);
    DECLARE SOCIETE VARCHAR(100);
    DECLARE GUICHET BIGINT;
    DECLARE COMPTE BIGINT;
    DECLARE R BIGINT;
    DECLARE CLE INTEGER;
    DECLARE CONTROLE INTEGER;
    DECLARE ID BIGINT;
    DECLARE LES_CLIENTS CURSOR FOR (SELECT CLI_ID, CLI_NOM || ' ' || CLI_PRENOM AS NP FROM CLIENTS);
    DECLARE LES_BANQUES CURSOR FOR (
        SELECT BANQ_ID, COALESCE(BANQ_BANQUE, BANQ_BE_DEBUT) AS CODE, BANQ_BIC, BANQ_SOCIETE
        FROM BANQUE
        WHERE BANQ_CODE_PAYS = 'FR' AND CHAR_LENGTH(COALESCE(BANQ_BANQUE, BANQ_BE_DEBUT)) = 5);
BEGIN
    GRAINE = MOD(GEN_ID(IDGENERIQUE, 0), 2147483646) + 1;
    OPEN LES_CLIENTS;
    OPEN LES_BANQUES;
    WHILE (RESTE > 0) DO
    BEGIN
        FETCH LES_CLIENTS INTO CLI, PAYEUR;
        IF (ROW_COUNT = 0) THEN
        BEGIN
            CLOSE LES_CLIENTS;
            OPEN LES_CLIENTS;
            FETCH LES_CLIENTS INTO CLI, PAYEUR;
        END
        FETCH LES_BANQUES INTO BANQ, CODE, BIC, SOCIETE;
        IF (ROW_COUNT = 0) THEN
        BEGIN
            CLOSE LES_BANQUES;
            OPEN LES_BANQUES;
            FETCH LES_BANQUES INTO BANQ, CODE, BIC, SOCIETE;
        END

        GRAINE = MOD(GRAINE * 48271, 2147483647);
        GUICHET = MOD(GRAINE, 100000);
        GRAINE = MOD(GRAINE * 48271, 2147483647);
        COMPTE = MOD(GRAINE, 100000) * 1000000;
        GRAINE = MOD(GRAINE * 48271, 2147483647);
        COMPTE = COMPTE + MOD(GRAINE, 1000000);

        /* RIB key: 97 - (bank branch account 00) mod 97. */
        R = MOD(CAST(CODE AS BIGINT), 97);
        R = MOD(R * 100000 + GUICHET, 97);
        R = MOD(R * 100000000000 + COMPTE, 97);
        CLE = 97 - MOD(R * 100, 97);
        /* Check digits: 98 - (RIB followed by F=15 R=27 and 00) mod 97. */
        R = MOD(R * 100 + CLE, 97);
        CONTROLE = 98 - MOD(R * 1000000 + 152700, 97);

        ID = NEXT VALUE FOR IDGENERIQUE;
        INSERT INTO CLIENTS_MANDAT (CMAN_ID, CMAN_IDCLI, CMAN_ACTIF, CMAN_SIGNATURE, CMAN_IDBANQ,
                                    CMAN_IBAN, CMAN_BIC, CMAN_NOMBANQUE, CMAN_MANDAT, CMAN_PAYEUR,
                                    CMAN_ADRESSE1, CMAN_ADRESSE2, CMAN_CPVILLE, CMAN_CREATION_IDCTR)
        VALUES (:ID, :CLI, IIF(MOD(:GRAINE, 10) = 0, 0, -1),
                DATEADD(-MOD(:GRAINE, 5000) DAY TO DATE '2024-12-31'), :BANQ,
                'FR' || LPAD(CAST(:CONTROLE AS VARCHAR(2)), 2, '0') || :CODE
                     || LPAD(CAST(:GUICHET AS VARCHAR(5)), 5, '0')
                     || LPAD(CAST(:COMPTE AS VARCHAR(11)), 11, '0')
                     || LPAD(CAST(:CLE AS VARCHAR(2)), 2, '0'),
                :BIC, :SOCIETE, 'VOL-' || :ID, :PAYEUR,
                (MOD(:GRAINE, 180) + 1) || ' rue du Volume', NULL, '75011 PARIS', NULL);
        RESTE = RESTE - 1;
    END
    CLOSE LES_CLIENTS;
    CLOSE LES_BANQUES;
END^

COMMIT^

SET TERM ; ^
