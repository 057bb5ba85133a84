// Real failures of the private server turned into the layer's exceptions, and the program's
// parameter block accepted by the real server.
#include "IB_Intf.h"
#include "MotDePasse.h"
#include "TestSupport.h"
#include "fib.h"

#include <QFileInfo>

#include <gtest/gtest.h>

#include <array>
#include <vector>

namespace {

const QByteArray Gestion("127.0.0.1:TALVIK_GESTION");

// The program's parameter lines, with the given password, as GenerateDPB builds them.
QByteArray ProgramDPB(const QString& password) {
    TStringList params({S("user_name=SYSDBA"), S("lc_ctype=ISO8859_1"), S("password=") + password});
    return GenerateDPB(params, true);
}

class ErrorsAgainstServer : public ::testing::Test {
protected:
    void SetUp() override {
        Library = GetClientLibrary(S("fbClient.dll"));
        Form.SetName(S("frmPrincipale"));
        Database = new TComponent(&Form);
        Database->SetName(S("dbSource"));
    }

    // Attaches and reports the status; an attachment that should have failed is undone so the
    // server is left as it was.
    ISC_STATUS AttachExpectingFailure(const QByteArray& name, const QByteArray& dpb) {
        isc_db_handle handle = 0;
        const ISC_STATUS result =
            Library->isc_attach_database(StatusVector(), short(name.size()), name.constData(),
                                         &handle, short(dpb.size()), dpb.constData());
        RestoreFPUControlWord();
        if (result == 0) {
            ADD_FAILURE() << "attaching " << name.constData() << " succeeded";
            std::array<ISC_STATUS, StatusVectorLength> local{};
            Library->isc_detach_database(local.data(), &handle);
        }
        return result;
    }

    // The texts of the current status vector read straight from the library, before the layer
    // looks at them.
    struct TRawTexts {
        ISC_LONG sqlCode = 0;
        QString sqlText;
        QStringList lines;
    };
    TRawTexts RawTexts() {
        TRawTexts raw;
        raw.sqlCode = Library->isc_sqlcode(StatusVector());
        std::vector<char> buffer(4096, 0);
        Library->isc_sql_interprete(short(raw.sqlCode), buffer.data(), short(buffer.size()));
        raw.sqlText = QString::fromLatin1(buffer.data());
        const ISC_STATUS* cursor = StatusVector();
        for (ISC_LONG n;
             (n = Library->fb_interpret(buffer.data(), unsigned(buffer.size()), &cursor)) > 0;)
            raw.lines << QString::fromLatin1(buffer.data(), n);
        return raw;
    }

    EFIBInterBaseError Raise() {
        try {
            RaiseInterBaseError(Library, Database);
        } catch (const EFIBInterBaseError& e) {
            return e;
        }
        throw std::logic_error("RaiseInterBaseError returned");
    }

    IIBClientLibraryPtr Library;
    TComponent Form;
    TComponent* Database = nullptr;
};

// Capital first letter, then "." unless there is one; the server's lines each on a line.
QString ExpectedLine(QString line) {
    if (!line.isEmpty() && line[0] >= QLatin1Char('a') && line[0] <= QLatin1Char('z'))
        line[0] = line[0].toUpper();
    if (!line.endsWith(QLatin1Char('.'))) line += QLatin1Char('.');
    return line + S("\r\n");
}

} // namespace

TEST_F(ErrorsAgainstServer, ProgramParameterBlockIsAccepted) {
    const QByteArray dpb = ProgramDPB(MotDePasseGestion());
    isc_db_handle handle = 0;
    const ISC_STATUS result =
        Library->isc_attach_database(StatusVector(), short(Gestion.size()), Gestion.constData(),
                                     &handle, short(dpb.size()), dpb.constData());
    RestoreFPUControlWord();
    if (result != 0) RaiseInterBaseError(Library, Database);
    EXPECT_NE(handle, 0u);
    EXPECT_EQ(Library->isc_detach_database(StatusVector(), &handle), 0);
}

TEST_F(ErrorsAgainstServer, WrongPassword) {
    ASSERT_NE(AttachExpectingFailure(Gestion, ProgramDPB(S("pas-le-bon"))), 0);
    ASSERT_EQ(StatusVector()[1], isc_login);
    const TRawTexts raw = RawTexts();
    ASSERT_FALSE(raw.lines.isEmpty());

    const EFIBInterBaseError e = Raise();
    EXPECT_EQ(e.SQLCode(), -902);
    EXPECT_EQ(e.IBErrorCode(), isc_login);
    EXPECT_EQ(e.RaiserName(), S("frmPrincipale.dbSource"));
    EXPECT_EQ(e.SenderObj, Database);
    EXPECT_EQ(e.SQLMessage(),
              S("Unsuccessful execution caused by a system error that precludes successful "
                "execution of subsequent statements.\r\n"));
    EXPECT_EQ(e.IBMessage(),
              S("Your user name and password are not defined. Ask your database administrator "
                "to set up a Firebird login.\r\n"));

    QString expected = S("frmPrincipale.dbSource:\r\n") + e.SQLMessage();
    for (const QString& line : raw.lines)
        expected += ExpectedLine(line);
    EXPECT_EQ(e.Message(), expected);
}

TEST_F(ErrorsAgainstServer, DatabaseThatDoesNotExist) {
    // Inside the instance's folder: the server refuses a path outside it (DatabaseAccess)
    // before it tries to open anything.
    const QString fichier = QFileInfo(qEnvironmentVariable("RAVELIN_FB_ROOT")).canonicalFilePath() +
                            QStringLiteral("/absente/x.fdb");
    ASSERT_NE(AttachExpectingFailure("127.0.0.1:" + fichier.toLocal8Bit(),
                                     ProgramDPB(MotDePasseGestion())),
              0);
    const TRawTexts raw = RawTexts();
    ASSERT_EQ(raw.lines.size(), 3);

    const EFIBInterBaseError e = Raise();
    EXPECT_EQ(e.SQLCode(), -902);
    EXPECT_EQ(e.IBErrorCode(), isc_io_error);
    // The server's lines come without a final "."; the last one is the operating system's text.
    EXPECT_EQ(raw.lines[0], S("I/O error during \"open\" operation for file \"") + fichier + u'"');
    EXPECT_EQ(e.Message(),
              S("frmPrincipale.dbSource:\r\n"
                "Unsuccessful execution caused by a system error that precludes successful "
                "execution of subsequent statements.\r\n"
                "I/O error during \"open\" operation for file \"") +
                  fichier +
                  S("\".\r\n"
                    "Error while trying to open file.\r\n") +
                  ExpectedLine(raw.lines[2]));
}
