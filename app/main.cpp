#include "Application.h"
#include "Unit1.h"

int main(int argc, char** argv) {
    TApplication app(argc, argv);
    // A signal while the window is made (its login dialog open) ends the program as well.
    app.CloseOnTermination(nullptr);
    // The main window carries the program's task-bar button and its closing ends the program.
    TfrmPrincipale frmPrincipale;
    frmPrincipale.show();
    app.CloseOnTermination(&frmPrincipale);
    return app.exec();
}
