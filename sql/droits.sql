/* The role RAVELIN: exactly what the program does with the management database, and nothing
   more. An administrator runs this once per database, as its owner or SYSDBA (the password in
   ISC_PASSWORD, with ISC_USER=SYSDBA):
       isql-fb -q -b -i /usr/share/ravelin/droits.sql serveur:TALVIK_GESTION
   then grants the role to the accounts of the back office (README, "Deploy on the
   organisation's server"). A server made by scripts/fbinstance already has it.

   « Vérifier » and the bank chooser read the three tables; « Modifier » rewrites a mandate's
   IBAN, BIC and bank; « Recréer » ends a mandate and inserts its copy under an identifier taken
   from IDGENERIQUE. No DELETE, no other table, no other column, no schema change. */

CREATE ROLE RAVELIN;

GRANT SELECT ON BANQUE TO ROLE RAVELIN;
GRANT SELECT ON CLIENTS TO ROLE RAVELIN;
GRANT SELECT ON CLIENTS_MANDAT TO ROLE RAVELIN;

GRANT UPDATE (CMAN_IBAN, CMAN_BIC, CMAN_IDBANQ, CMAN_ACTIF) ON CLIENTS_MANDAT TO ROLE RAVELIN;
GRANT INSERT ON CLIENTS_MANDAT TO ROLE RAVELIN;

GRANT USAGE ON SEQUENCE IDGENERIQUE TO ROLE RAVELIN;

COMMIT;
