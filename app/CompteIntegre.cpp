#include "CompteIntegre.h"

#include "MotDePasse.h"
#include "Programme.h"

bool CompteIntegreDisponible() {
    return true;
}

QString MotDePasseIntegre() {
    return MotDePasseGestion();
}

void ConfigureProgramConnection(TFIBDatabase& db, const QString& name) {
    db.SetSQLDialect(ProgramSQLDialect);
    SetProgramConnectParams(db, MotDePasseGestion(), name);
}
