/* Management database: the tables Ravelin reads and writes.
   Loaded by scripts/fbinstance into a database created with dialect 3 and the default character
   set ISO8859_1, through a connection with that character set:
       isql-fb -q -b -ch ISO8859_1 127.0.0.1:TALVIK_GESTION < sql/schema.sql
   Every identifier of the three tables comes from the one generator IDGENERIQUE, as in the
   management software this database belongs to; the triggers fill an identifier left out. */

SET AUTODDL ON;

CREATE SEQUENCE IDGENERIQUE;

CREATE TABLE BANQUE (
    BANQ_ID         BIGINT NOT NULL,
    BANQ_SOCIETE    VARCHAR(100) NOT NULL,
    BANQ_BIC        VARCHAR(11) NOT NULL,
    /* A network of regional banks has no single code: it is known by the range of its codes. */
    BANQ_BANQUE     VARCHAR(5),
    BANQ_BE_DEBUT   VARCHAR(5),
    BANQ_BE_FIN     VARCHAR(5),
    BANQ_CODE_PAYS  VARCHAR(2) DEFAULT 'FR' NOT NULL,
    CONSTRAINT PK_BANQUE PRIMARY KEY (BANQ_ID)
);

CREATE TABLE CLIENTS (
    CLI_ID          BIGINT NOT NULL,
    /* 35 + 1 + 35: the surname and first name joined with a blank fit the 71 characters of the
       mandate list's name column. */
    CLI_NOM         VARCHAR(35) NOT NULL,
    CLI_PRENOM      VARCHAR(35) DEFAULT '' NOT NULL,
    CONSTRAINT PK_CLIENTS PRIMARY KEY (CLI_ID)
);

CREATE TABLE CLIENTS_MANDAT (
    CMAN_ID              BIGINT NOT NULL,
    CMAN_IDCLI           BIGINT NOT NULL,
    CMAN_ACTIF           SMALLINT DEFAULT -1 NOT NULL,
    CMAN_SIGNATURE       DATE,
    /* Older mandates were typed without choosing a bank row: the bank then only shows in the
       IBAN's bank code. */
    CMAN_IDBANQ          BIGINT,
    CMAN_IBAN            VARCHAR(50),
    CMAN_BIC             VARCHAR(11),
    CMAN_NOMBANQUE       VARCHAR(100),
    CMAN_MANDAT          VARCHAR(35),
    CMAN_PAYEUR          VARCHAR(71),
    CMAN_ADRESSE1        VARCHAR(38),
    CMAN_ADRESSE2        VARCHAR(38),
    CMAN_CPVILLE         VARCHAR(50),
    CMAN_CREATION_IDCTR  BIGINT,
    CONSTRAINT PK_CLIENTS_MANDAT PRIMARY KEY (CMAN_ID),
    CONSTRAINT FK_CMAN_CLIENT FOREIGN KEY (CMAN_IDCLI) REFERENCES CLIENTS (CLI_ID),
    CONSTRAINT FK_CMAN_BANQUE FOREIGN KEY (CMAN_IDBANQ) REFERENCES BANQUE (BANQ_ID),
    CONSTRAINT CK_CMAN_ACTIF CHECK (CMAN_ACTIF IN (-1, 0))
);

CREATE INDEX IX_CMAN_IBAN ON CLIENTS_MANDAT (CMAN_IBAN);

SET TERM ^ ;

CREATE TRIGGER BANQUE_BI FOR BANQUE ACTIVE BEFORE INSERT POSITION 0 AS
BEGIN
    IF (NEW.BANQ_ID IS NULL) THEN NEW.BANQ_ID = NEXT VALUE FOR IDGENERIQUE;
END^

CREATE TRIGGER CLIENTS_BI FOR CLIENTS ACTIVE BEFORE INSERT POSITION 0 AS
BEGIN
    IF (NEW.CLI_ID IS NULL) THEN NEW.CLI_ID = NEXT VALUE FOR IDGENERIQUE;
END^

CREATE TRIGGER CLIENTS_MANDAT_BI FOR CLIENTS_MANDAT ACTIVE BEFORE INSERT POSITION 0 AS
BEGIN
    IF (NEW.CMAN_ID IS NULL) THEN NEW.CMAN_ID = NEXT VALUE FOR IDGENERIQUE;
END^

SET TERM ; ^

COMMIT;
