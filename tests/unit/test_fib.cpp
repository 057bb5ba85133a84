// The layer's exceptions, their messages, and the database and transaction parameter blocks,
// byte for byte.
#include "IB_Intf.h"
#include "TestSupport.h"
#include "fib.h"

#include <gtest/gtest.h>

#include <QRandomGenerator>

#include <initializer_list>
#include <stdexcept>
#include <vector>

namespace {

QByteArray Bytes(std::initializer_list<int> values) {
    QByteArray b;
    for (int v : values)
        b.append(char(v));
    return b;
}

struct TBlock {
    QByteArray block;
    qint16 length = -99;
};

TBlock DPB(const QStringList& lines, bool isFirebird = true) {
    TStringList params(lines);
    TBlock r;
    r.block = GenerateDPB(params, isFirebird);
    r.length = qint16(r.block.size());
    return r;
}

TBlock TPB(const QStringList& lines, bool lockTimeoutAllowed = true) {
    TStringList params(lines);
    TBlock r;
    r.block = GenerateTPB(params, lockTimeoutAllowed);
    r.length = qint16(r.block.size());
    return r;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Numbered messages and client errors

TEST(FIBMessages, TableTexts) {
    EXPECT_EQ(FIBErrorMessage(0), S("Unknown error."));
    EXPECT_EQ(FIBErrorMessage(8), S("DPB Constant (isc_dpb_%s) is unsupported."));
    EXPECT_EQ(FIBErrorMessage(15), S("%s :Transaction is not active."));
    EXPECT_EQ(FIBErrorMessage(37), S("Can't %s , because  query is empty"));
    EXPECT_EQ(FIBErrorMessage(38), S("Can't \"open\" a non-select statement. Use ExecQuery."));
    EXPECT_EQ(FIBErrorMessage(45), S("Can't post. (%s) "));
    EXPECT_EQ(FIBErrorMessage(51), S("SQL Parse Error in :%s \r\n\r\n%s"));
    EXPECT_EQ(FIBErrorMessage(55), S("Windows API error. (Windows error %d [$%.8x])"));
    EXPECT_EQ(FIBErrorMessage(60), S("Dimension %d don't exist in \"%s\" "));
    EXPECT_EQ(FIBErrorMessage(63),
              S("%s is an InterBase6 function. Please upgrade to InterBase6 to use this "
                "functonality"));
    EXPECT_EQ(FIBErrorMessage(84), S("MDT. Savepoint \"%s\" not found"));
    // Every number has its own text; out of range falls back to the first.
    for (int i = 1; i < FIBErrorMessageCount; ++i)
        EXPECT_NE(FIBErrorMessage(i), FIBErrorMessage(i - 1)) << i;
    EXPECT_EQ(FIBErrorMessage(FIBErrorMessageCount), FIBErrorMessage(0));

    const QString limited = FIBErrorMessage(75);
    EXPECT_TRUE(limited.startsWith(S("%s. Can't use limited cache. ")));
    EXPECT_EQ(limited.split(S("\r\n")).size(), 6);
    EXPECT_FALSE(limited.endsWith(S("\r\n")));
}

TEST(FIBMessages, RaiseClientError) {
    const EFIBClientError e = ClientErrorOf([] { RaiseClientError(14); });
    EXPECT_EQ(e.SQLCode(), 14);
    EXPECT_EQ(e.Message(), S("Database name is missing."));
    EXPECT_EQ(e.Msg(), e.Message());
    EXPECT_TRUE(e.RaiserName().isEmpty());
    EXPECT_EQ(e.SenderObj, nullptr);

    EXPECT_EQ(ClientErrorOf([] { RaiseClientError(55, 5, 255); }).Message(),
              S("Windows API error. (Windows error 5 [$000000FF])"));
    EXPECT_EQ(
        ClientErrorOf([] { RaiseClientError(51, S("SELECT"), S("Token unknown")); }).Message(),
        S("SQL Parse Error in :SELECT \r\n\r\nToken unknown"));
    EXPECT_EQ(ClientErrorOf([] { RaiseClientError(15, S("frmPrincipale.transLocale")); }).Message(),
              S("frmPrincipale.transLocale :Transaction is not active."));

    const EFIBClientError f =
        ClientErrorOf([] { RaiseClientErrorFmt(S("Table %s : %d lignes"), S("BANQUE"), 3); });
    EXPECT_EQ(f.SQLCode(), -1);
    EXPECT_EQ(f.Message(), S("Table BANQUE : 3 lignes"));

    // Arguments that do not fit the placeholders give the formatting error, not a client error.
    EXPECT_THROW(RaiseClientError(30, S("pas un nombre")), EConvertError);
}

// ---------------------------------------------------------------------------------------------
// Message composition

TEST(EFIBError, RaiserNameOfOneCharacterIsLeftOut) {
    TComponent one;
    one.SetName(S("x"));
    EXPECT_EQ(EFIBError(7, S("Boom."), &one).Message(), S("Boom."));
    EXPECT_EQ(EFIBError(7, S("Boom."), &one).RaiserName(), S("x"));

    TComponent two;
    two.SetName(S("db"));
    const EFIBError e(7, S("Boom."), &two);
    EXPECT_EQ(e.Message(), S("db:\r\nBoom."));
    EXPECT_EQ(e.SQLCode(), 7);
    EXPECT_EQ(e.SenderObj, &two);

    // A sender that is no component has no name to show.
    TObject plain;
    const EFIBError p(7, S("Boom."), &plain);
    EXPECT_TRUE(p.RaiserName().isEmpty());
    EXPECT_EQ(p.SenderObj, &plain);
    EXPECT_EQ(p.Message(), S("Boom."));
}

TEST(EFIBError, CreateExOrderAndLineEnds) {
    TComponent owner;
    owner.SetName(S("frmPrincipale"));
    auto* db = new TComponent(&owner);
    db->SetName(S("dbSource"));

    // The SQL text already ends with "." and so runs straight into the server's lines.
    EFIBInterBaseError e(-902, S("Line one.\r\nLine two.\r\n"), S("Unsuccessful execution."),
                         QString(), db);
    EXPECT_EQ(e.Message(),
              S("frmPrincipale.dbSource:\r\nUnsuccessful execution.Line one.\r\nLine two.\r\n"));
    EXPECT_EQ(e.SQLMessage(), S("Unsuccessful execution."));
    EXPECT_EQ(e.IBMessage(), S("Line one.\r\nLine two.\r\n"));
    EXPECT_TRUE(e.Msg().isEmpty());

    // Each setter recomposes, and the order stays raiser, SQL, server, custom, plain.
    e.SetCustomMessage(S("[custom]"));
    EXPECT_EQ(e.Message(), S("frmPrincipale.dbSource:\r\nUnsuccessful execution.Line one.\r\n"
                             "Line two.\r\n[custom]"));
    e.SetMsg(S("[msg]"));
    e.SetIBMessage(S("[ib]"));
    e.SetSQLMessage(S("[sql]"));
    EXPECT_EQ(e.Message(), S("frmPrincipale.dbSource:\r\n[sql][ib][custom][msg]"));
    e.SetRaiserName(S("q"));
    EXPECT_EQ(e.Message(), S("[sql][ib][custom][msg]"));
    e.SetRaiserName(S("qryLocale"));
    EXPECT_EQ(e.Message(), S("qryLocale:\r\n[sql][ib][custom][msg]"));
    EXPECT_STREQ(e.what(), "qryLocale:\r\n[sql][ib][custom][msg]");
}

TEST(EFIBError, ServerErrorCodeIsReadAtConstruction) {
    ISC_STATUS* status = StatusVector();
    status[0] = isc_arg_gds;
    status[1] = isc_login;
    status[2] = isc_arg_end;
    const EFIBError e(-902, S("x"), nullptr);
    status[1] = isc_io_error;
    EXPECT_EQ(e.IBErrorCode(), isc_login);
    status[0] = status[1] = 0;
}

TEST(ComponentPath, OwnersOutermostFirstUnnamedLeftOut) {
    EXPECT_EQ(ComponentPath(nullptr), QString());
    TComponent form;
    form.SetName(S("frmPrincipale"));
    auto* query = new TComponent(&form);
    query->SetName(S("qryLocale"));
    EXPECT_EQ(ComponentPath(query), S("frmPrincipale.qryLocale"));
    EXPECT_EQ(ComponentPath(&form), S("frmPrincipale"));

    auto* unnamed = new TComponent(&form);
    auto* inner = new TComponent(unnamed);
    inner->SetName(S("fldNom"));
    EXPECT_EQ(ComponentPath(inner), S("frmPrincipale.fldNom"));
    EXPECT_EQ(ComponentPath(unnamed), S("frmPrincipale"));

    TComponent root;
    auto* child = new TComponent(&root);
    child->SetName(S("dbSource"));
    EXPECT_EQ(ComponentPath(child), S("dbSource"));
}

// ---------------------------------------------------------------------------------------------
// RaiseInterBaseError against scripted answers of the three interpreting entry points; the rest
// of the library is the machine's real client.

namespace {

class TScriptedClientLibrary : public TIBClientLibrary {
public:
    TScriptedClientLibrary() : TIBClientLibrary(S("fbClient.dll")) {}

    ISC_LONG SQLCode = -902;
    QByteArray SQLText;
    std::vector<QByteArray> Messages;
    short InterpreteSize = 0;
    unsigned InterpretSize = 0;

    ISC_LONG isc_sqlcode(const ISC_STATUS*) override { return SQLCode; }
    void isc_sql_interprete(short code, ISC_SCHAR* buffer, short size) override {
        EXPECT_EQ(code, SQLCode);
        InterpreteSize = size;
        qstrncpy(buffer, SQLText.constData(), size_t(size));
    }
    // Each message takes one word of the vector, so the cursor shows how far the caller got.
    ISC_LONG fb_interpret(ISC_SCHAR* buffer, unsigned size, const ISC_STATUS** cursor) override {
        InterpretSize = size;
        const qsizetype index = *cursor - StatusVector();
        if (index >= qsizetype(Messages.size())) return 0;
        ++*cursor;
        const QByteArray& m = Messages[size_t(index)];
        memcpy(buffer, m.constData(), size_t(m.size()));
        buffer[m.size()] = '\x7f'; // the length returned counts, not a terminator
        return ISC_LONG(m.size());
    }
};

EFIBInterBaseError RaisedBy(TScriptedClientLibrary& lib, TObject* sender) {
    return Raised<EFIBInterBaseError>([&] { RaiseInterBaseError(&lib, sender); });
}

} // namespace

TEST(RaiseInterBaseError, ComposesSQLTextAndServerLines) {
    TScriptedClientLibrary lib;
    TComponent form;
    form.SetName(S("frmPrincipale"));
    auto* db = new TComponent(&form);
    db->SetName(S("dbSource"));
    StatusVector()[1] = isc_io_error;

    lib.SQLText = "unsuccessful metadata update\\n or \\nfailure";
    lib.Messages = {"i/o error during \"open\"", "Error while trying to open file.",
                    "caf\xe9 ferm\xe9"};
    const EFIBInterBaseError e = RaisedBy(lib, db);
    EXPECT_EQ(lib.InterpreteSize, 1024);
    EXPECT_EQ(lib.InterpretSize, 20480u);
    EXPECT_EQ(e.SQLCode(), -902);
    EXPECT_EQ(e.IBErrorCode(), isc_io_error);
    EXPECT_EQ(e.RaiserName(), S("frmPrincipale.dbSource"));
    EXPECT_EQ(e.SQLMessage(), S("Unsuccessful metadata update or failure.\r\n"));
    EXPECT_EQ(e.IBMessage(), S("I/o error during \"open\".\r\nError while trying to open file.\r\n"
                               "Café fermé.\r\n"));
    EXPECT_EQ(e.Message(), S("frmPrincipale.dbSource:\r\n") + e.SQLMessage() + e.IBMessage());
    EXPECT_EQ(e.SenderObj, db);
    StatusVector()[1] = 0;
}

TEST(RaiseInterBaseError, EdgeTexts) {
    TScriptedClientLibrary lib;
    // An SQL text ending in "." gets no second one but still its line end, so that the server's
    // first message starts a line of its own; one that starts with something other than a small
    // letter keeps it; an empty one stays empty.
    lib.SQLText = "\xe9tat invalide.";
    lib.Messages = {"Done."};
    EFIBInterBaseError e = RaisedBy(lib, nullptr);
    EXPECT_EQ(e.Message(), S("état invalide.\r\nDone.\r\n"));

    lib.SQLText = "\\n";
    lib.Messages = {};
    e = RaisedBy(lib, nullptr);
    EXPECT_EQ(e.Message(), QString());
    EXPECT_TRUE(e.RaiserName().isEmpty());

    lib.SQLText = "x";
    e = RaisedBy(lib, nullptr);
    EXPECT_EQ(e.Message(), S("X.\r\n"));
}

// ---------------------------------------------------------------------------------------------
// DPB: name table

TEST(DPBNames, TableAgreesWithTheClientInterface) {
    // The codes the client interface still publishes under the same names.
    const std::pair<const char*, int> published[] = {
        {"cdd_pathname", isc_dpb_cdd_pathname},
        {"page_size", isc_dpb_page_size},
        {"num_buffers", isc_dpb_num_buffers},
        {"garbage_collect", isc_dpb_garbage_collect},
        {"verify", isc_dpb_verify},
        {"sweep", isc_dpb_sweep},
        {"dbkey_scope", isc_dpb_dbkey_scope},
        {"no_garbage_collect", isc_dpb_no_garbage_collect},
        {"damaged", isc_dpb_damaged},
        {"license", isc_dpb_license},
        {"sys_user_name", isc_dpb_sys_user_name},
        {"encrypt_key", isc_dpb_encrypt_key},
        {"activate_shadow", isc_dpb_activate_shadow},
        {"sweep_interval", isc_dpb_sweep_interval},
        {"delete_shadow", isc_dpb_delete_shadow},
        {"force_write", isc_dpb_force_write},
        {"begin_log", isc_dpb_begin_log},
        {"quit_log", isc_dpb_quit_log},
        {"no_reserve", isc_dpb_no_reserve},
        {"user_name", isc_dpb_user_name},
        {"password", isc_dpb_password},
        {"password_enc", isc_dpb_password_enc},
        {"online_dump", isc_dpb_online_dump},
        {"old_file_size", isc_dpb_old_file_size},
        {"old_file", isc_dpb_old_file},
        {"wal_grp_cmt_wait", isc_dpb_wal_grp_cmt_wait},
        {"lc_messages", isc_dpb_lc_messages},
        {"lc_ctype", isc_dpb_lc_ctype},
        {"shutdown", isc_dpb_shutdown},
        {"online", isc_dpb_online},
        {"shutdown_delay", isc_dpb_shutdown_delay},
        {"overwrite", isc_dpb_overwrite},
        {"connect_timeout", isc_dpb_connect_timeout},
        {"dummy_packet_interval", isc_dpb_dummy_packet_interval},
        {"sql_role_name", isc_dpb_sql_role_name},
        {"sql_dialect", isc_dpb_sql_dialect},
        {"gstat_attach", isc_dpb_gstat_attach},
        {"set_db_charset", isc_dpb_set_db_charset},
        {"no_db_triggers", isc_dpb_no_db_triggers},
    };
    for (const auto& [name, code] : published)
        EXPECT_EQ(DPBConstantCode(name), code) << name;

    EXPECT_EQ(DPBConstantName(1), S("cdd_pathname"));
    EXPECT_EQ(DPBConstantName(75), S("instance_name"));
    EXPECT_EQ(DPBConstantName(83), S("force"));
    EXPECT_EQ(DPBConstantName(0), QString());
    EXPECT_EQ(DPBConstantName(84), QString());
    // Two names of one code both find it; the code's name is the first one.
    EXPECT_EQ(DPBConstantCode("gbak_ods_version"), 68);
    EXPECT_EQ(DPBConstantName(68), S("gbak_ods_version"));
    EXPECT_EQ(DPBConstantCode("client_interbase_var"), 72);
    EXPECT_EQ(DPBConstantCode("utf8_filename"), 77);
    EXPECT_EQ(DPBConstantCode("archive_database"), 77);
    // Lookup is exact: the caller has already lowered the letters and removed the prefix.
    EXPECT_EQ(DPBConstantCode("USER_NAME"), 0);
    EXPECT_EQ(DPBConstantCode("isc_dpb_user_name"), 0);
    EXPECT_EQ(DPBConstantCode(""), 0);
}

// ---------------------------------------------------------------------------------------------
// DPB: blocks

TEST(GenerateDPB, ProgramLines) {
    const TBlock r = DPB({S("user_name=SYSDBA"), S("lc_ctype=ISO8859_1"), S("password=m0tDePa")});
    EXPECT_EQ(r.block, Bytes({1, 28, 6}) + "SYSDBA" + Bytes({48, 9}) + "ISO8859_1" +
                           Bytes({29, 7}) + "m0tDePa");
    EXPECT_EQ(r.length, 22 + 7);
    EXPECT_EQ(r.length, r.block.size());

    const TBlock empty = DPB({});
    EXPECT_EQ(empty.block, Bytes({1}));
    EXPECT_EQ(empty.length, 1);
}

TEST(GenerateDPB, NamesPrefixesAndTrimming) {
    EXPECT_EQ(DPB({S("ISC_DPB_USER_NAME=SysDba")}).block, Bytes({1, 28, 6}) + "SysDba");
    EXPECT_EQ(DPB({S("isc_dpb_Lc_Ctype=UTF8")}).block, Bytes({1, 48, 4}) + "UTF8");
    // Only the first "=" splits; a line without one has an empty value.
    EXPECT_EQ(DPB({S("password=a=b")}).block, Bytes({1, 29, 3}) + "a=b");
    EXPECT_EQ(DPB({S("user_name")}).block, Bytes({1, 28, 0}));
    // Values are carried in the system's code page, but the client reads the account's texts
    // beyond ASCII only in UTF-8, marked so at the end of the block.
    EXPECT_EQ(DPB({S("lc_messages=é")}).block, Bytes({1, 47, 1, 0xE9}));
    EXPECT_EQ(DPB({S("password=é")}).block, Bytes({1, 29, 2, 0xC3, 0xA9, 77, 0}));

    TStringList params({S("  user_name=SYSDBA \t"), QString(), S(" \t "), S("\tonline")});
    int changes = 0;
    params.OnChange = [&](TObject*) { ++changes; };
    QByteArray block;
    qint16 length = 0;
    block = GenerateDPB(params, true);
    length = qint16(block.size());
    EXPECT_EQ(block, Bytes({1, 28, 6}) + "SYSDBA" + Bytes({51, 0}));
    EXPECT_EQ(length, 11);
    EXPECT_EQ(params.ToStringList(),
              QStringList({S("user_name=SYSDBA"), QString(), QString(), S("online")}));
    EXPECT_EQ(changes, 4);
}

TEST(GenerateDPB, ByteValues) {
    for (int code : {5, 9, 13, 17, 24, 27, 33, 34, 52, 54, 57, 58}) {
        const TBlock r = DPB({DPBConstantName(code) + S("=300")});
        EXPECT_EQ(r.block, Bytes({1, code, 1, 300 & 0xFF})) << code;
        EXPECT_EQ(r.length, 4);
    }
    EXPECT_EQ(DPB({S("num_buffers=-1")}).block, Bytes({1, 5, 1, 0xFF}));
    EXPECT_EQ(ConvertErrorOf([] { DPB({S("num_buffers=abc")}); }),
              S("'abc' n'est pas une valeur entière correcte"));
    EXPECT_EQ(ConvertErrorOf([] { DPB({S("force_write=")}); }),
              S("'' n'est pas une valeur entière correcte"));
}

TEST(GenerateDPB, TextValues) {
    for (int code : {18, 19, 20, 28, 29, 30, 36, 47, 48, 60}) {
        const TBlock r = DPB({DPBConstantName(code) + S("=Abc")});
        EXPECT_EQ(r.block, Bytes({1, code, 3}) + "Abc") << code;
        EXPECT_EQ(r.length, 6);
    }
    EXPECT_EQ(DPB({S("sql_dialect=3")}).block, Bytes({1, 63, 1, 3}));
    EXPECT_EQ(DPB({S("sql_dialect=1")}).length, 4);
    EXPECT_EQ(ConvertErrorOf([] { DPB({S("sql_dialect=")}); }),
              S("'' n'est pas une valeur entière correcte"));

    // Firebird and InterBase each understand only their own one of these two.
    EXPECT_EQ(DPB({S("set_db_charset=UTF8")}, true).block, Bytes({1, 68, 4}) + "UTF8");
    EXPECT_EQ(DPB({S("set_db_charset=UTF8")}, false).block, Bytes({1}));
    EXPECT_EQ(DPB({S("instance_name=ib2007")}, true).block, Bytes({1}));
    EXPECT_EQ(DPB({S("instance_name=ib2007")}, false).block, Bytes({1, 75, 6}) + "ib2007");
    EXPECT_EQ(DPB({S("instance_name=ib2007")}, true).length, 1);
}

TEST(GenerateDPB, FixedAndFlagValues) {
    EXPECT_EQ(DPB({S("sweep=999")}).block, Bytes({1, 10, 1, 2}));
    EXPECT_EQ(DPB({S("sweep_interval=20000")}).block, Bytes({1, 22, 4, 0x20, 0x4E, 0, 0}));
    EXPECT_EQ(DPB({S("sweep_interval=-2")}).block, Bytes({1, 22, 4, 0xFE, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(DPB({S("sweep_interval=20000")}).length, 7);
    EXPECT_THROW(DPB({S("sweep_interval=vingt")}), EConvertError);

    for (int code : {21, 23, 25, 26})
        EXPECT_EQ(DPB({DPBConstantName(code) + S("=7")}).block, Bytes({1, code, 1, 0})) << code;
    for (int code : {8, 16})
        EXPECT_EQ(DPB({DPBConstantName(code)}).block, Bytes({1, code, 1, 1})) << code;
    EXPECT_EQ(DPB({S("no_db_triggers")}, true).block, Bytes({1, 72, 1, 1}));
    EXPECT_EQ(DPB({S("no_db_triggers")}, false).block, Bytes({1}));

    EXPECT_EQ(DPB({S("online")}).block, Bytes({1, 51, 0}));
    EXPECT_EQ(DPB({S("online=whatever")}).length, 3);
    EXPECT_EQ(DPB({S("utf8_filename")}, true).block, Bytes({1, 77, 0}));
    EXPECT_EQ(DPB({S("utf8_filename")}, false).block, Bytes({1}));
    EXPECT_EQ(DPB({S("shutdown")}).block, Bytes({1, 50, 0}));
    EXPECT_EQ(DPB({S("shutdown=")}).block, Bytes({1, 50, 0}));
}

TEST(GenerateDPB, ShutdownModes) {
    EXPECT_EQ(DPB({S("shutdown=single,force")}).block, Bytes({1, 50, 1, 56}));
    EXPECT_EQ(DPB({S("shutdown=single,force")}).length, 4);
    EXPECT_EQ(ParseShutdownMode(";;normal;"), 16);
    EXPECT_EQ(ParseShutdownMode("Full;CACHE,,attachment"), 64 | 1 | 2);
    EXPECT_EQ(ParseShutdownMode("transaction;multi"), 4 | 32);
    EXPECT_EQ(ParseShutdownMode("mode_mask"), 112);
    EXPECT_EQ(ParseShutdownMode("2,4;8"), 14);
    // Flags combine: repeating or overlapping ones change nothing.
    EXPECT_EQ(ParseShutdownMode("single;normal,force,8"), 56);
    EXPECT_EQ(ParseShutdownMode(",;"), 0);
    // Only the low byte travels.
    EXPECT_EQ(ParseShutdownMode("300"), 300);
    EXPECT_EQ(DPB({S("shutdown=300")}).block, Bytes({1, 50, 1, 44}));

    EXPECT_EQ(ConvertErrorOf([] { ParseShutdownMode("3x"); }),
              S("'3x' n'est pas une valeur entière correcte"));
    const EFIBClientError e = ClientErrorOf([] { DPB({S("shutdown=single,Quick")}); });
    EXPECT_EQ(e.SQLCode(), -1);
    EXPECT_EQ(e.Message(), S("Unknown shutdown mode (quick)."));
    // The pieces are not trimmed: a blank after the comma makes an unknown word.
    EXPECT_THROW(ParseShutdownMode("single, force"), EFIBClientError);
}

TEST(GenerateDPB, UnsupportedAndUnknownNames) {
    const int unsupported[] = {1,  2,  3,  4,  6,  7,  11, 12, 14, 15, 31, 32, 35, 37, 38, 39,
                               40, 41, 42, 43, 44, 45, 46, 49, 53, 55, 56, 59, 61, 62, 64, 65,
                               66, 67, 69, 70, 71, 73, 74, 76, 78, 79, 80, 81, 82, 83};
    for (int code : unsupported) {
        const QString name = DPBConstantName(code);
        const EFIBClientError e = ClientErrorOf([&] { DPB({name + S("=1")}); });
        EXPECT_EQ(e.SQLCode(), 8) << code;
        EXPECT_EQ(e.Message(), S("DPB Constant (isc_dpb_") + name + S(") is unsupported."));
    }
    EXPECT_EQ(ClientErrorOf([] { DPB({S("isc_dpb_page_size=4096")}); }).Message(),
              S("DPB Constant (isc_dpb_page_size) is unsupported."));

    const EFIBClientError unknown = ClientErrorOf([] { DPB({S("ISC_DPB_PageSize=4096")}); });
    EXPECT_EQ(unknown.SQLCode(), 9);
    EXPECT_EQ(unknown.Message(), S("DPB Constant (pagesize) is unknown."));
    // A blank before "=" belongs to the name.
    EXPECT_EQ(ClientErrorOf([] { DPB({S("user_name =SYSDBA")}); }).Message(),
              S("DPB Constant (user_name ) is unknown."));
}

TEST(GenerateDPB, FailureDeliversNothingAndLeavesLinesTrimmedSoFar) {
    TStringList params({S(" user_name=a "), S(" pagesize=1 "), S(" lc_ctype=x ")});
    QByteArray block("previous");
    EXPECT_THROW(block = GenerateDPB(params, true), EFIBClientError);
    EXPECT_EQ(block, QByteArray("previous"));
    EXPECT_EQ(params.ToStringList(),
              QStringList({S("user_name=a"), S("pagesize=1"), S(" lc_ctype=x ")}));
}

TEST(GenerateDPB, OverlongValuesAndBlocksAreRefused) {
    const QString v255(255, QLatin1Char('p'));
    const TBlock ok = DPB({S("password=") + v255});
    EXPECT_EQ(ok.block, Bytes({1, 29, 255}) + v255.toLatin1());
    EXPECT_EQ(ok.length, 258);

    const EFIBClientError e = ClientErrorOf([&] { DPB({S("password=") + v255 + S("p")}); });
    EXPECT_EQ(e.SQLCode(), -1);
    EXPECT_EQ(e.Message(), S("DPB parameter password: value too long (256 bytes, at most 255)"));
    EXPECT_THROW(DPB({S("sql_dialect=") + v255 + S("3")}), EFIBClientError);
    EXPECT_THROW(DPB({S("set_db_charset=") + v255 + S("8")}, true), EFIBClientError);

    // 1 + 127 × 257 + 127 is exactly the largest length a signed 16-bit count can carry.
    QStringList lines;
    for (int i = 0; i < 127; ++i)
        lines << S("lc_messages=") + v255;
    const TBlock largest =
        DPB(lines + QStringList{S("user_name=") + QString(125, QLatin1Char('u'))});
    EXPECT_EQ(largest.length, 32767);
    EXPECT_EQ(largest.block.size(), 32767);

    const EFIBClientError big = ClientErrorOf(
        [&] { DPB(lines + QStringList{S("user_name=") + QString(126, QLatin1Char('u'))}); });
    EXPECT_EQ(big.SQLCode(), -1);
    EXPECT_EQ(big.Message(), S("DPB too long (32768 bytes, at most 32767)"));
}

TEST(GenerateDPB, ClientConfigurationPasswordBlanksAndAccountTextsInUtf8) {
    struct Cas {
        const char* nom;
        QStringList lignes;
        QByteArray bloc;
        bool utf8;
    };
    const QByteArray config = "WireCrypt = Required\nAuthClient = Srp256, Srp";
    const Cas cas[] = {
        // Every config line in one clump, where the first stands: the client keeps only the
        // last clump of that code.
        {"config",
         {S("user_name=U"), S("config=WireCrypt = Required"), S("password=p"),
          S("ISC_DPB_CONFIG=AuthClient = Srp256, Srp"), S("connect_timeout=15")},
         Bytes({1, 28, 1, 'U', 87, int(config.size())}) + config + Bytes({29, 1, 'p', 57, 1, 15}),
         false},
        // Blanks typed in a password are part of it.
        {"password blanks",
         {S("  password= a b \t"), S(" user_name=U ")},
         Bytes({1, 29, 6}) + " a b \t" + Bytes({28, 1, 'U'}),
         false},
        // The account's texts go in UTF-8 as soon as one of them needs it, the others as
        // they were; ASCII-only blocks stay as they always were.
        {"utf8",
         {S("user_name=Zoé"), S("lc_ctype=ISO8859_1"), S("sql_role_name=R"),
          S("password=Deuxième")},
         Bytes({1, 28, 4}) + "Zo\xC3\xA9" + Bytes({48, 9}) + "ISO8859_1" + Bytes({60, 1, 'R'}) +
             Bytes({29, 9}) + "Deuxi\xC3\xA8me" + Bytes({77, 0}),
         true},
        {"utf8 behind config",
         {S("config=WireCrypt = Enabled"), S("password=é")},
         Bytes({1, 87, 19}) + "WireCrypt = Enabled" + Bytes({29, 2, 0xC3, 0xA9, 77, 0}),
         true},
    };
    for (const Cas& c : cas) {
        SCOPED_TRACE(c.nom);
        TStringList params(c.lignes);
        bool utf8 = !c.utf8;
        EXPECT_EQ(GenerateDPB(params, true, &utf8), c.bloc);
        EXPECT_EQ(utf8, c.utf8);
    }
    // The password line is stored back without the blanks in front of its name only.
    TStringList params({S("  password= a b \t"), S(" user_name=U ")});
    GenerateDPB(params, true);
    EXPECT_EQ(params.ToStringList(), QStringList({S("password= a b \t"), S("user_name=U")}));
    // An InterBase server knows no UTF-8 marker: texts stay in the code page.
    EXPECT_EQ(DPB({S("password=é")}, false).block, Bytes({1, 29, 1, 0xE9}));
    // Together the config lines are one value, at most 255 bytes.
    const EFIBClientError long_ = ClientErrorOf([&] {
        DPB({S("config=") + QString(200, u'a'), S("config=") + QString(60, u'b')});
    });
    EXPECT_EQ(long_.Message(), S("DPB parameter config: value too long (261 bytes, at most 255)"));
}

TEST(GenerateDPB, ValuesOutsideTheCodePageAreRefused) {
    EXPECT_EQ(DPB({S("user_name=Zoé ÿ")}).block,
              Bytes({1, 28, 7}) + "Zo\xC3\xA9 \xC3\xBF" + Bytes({77, 0}));
    // A password sent with "?" in place of a character would fail as a wrong password.
    for (const auto& [line, message] :
         {std::pair{S("password=pass€"), S("Character U+20AC at position 5 cannot")},
          std::pair{S("user_name=中"), S("Character U+4E2D at position 1 cannot")},
          std::pair{S("sql_role_name=R😀"), S("Character U+1F600 at position 2 cannot")}}) {
        TStringList params({S("lc_ctype=ISO8859_1"), line});
        QByteArray block("previous");
        const EFIBClientError e = ClientErrorOf([&] { block = GenerateDPB(params, true); });
        EXPECT_EQ(e.Message(), message + S(" be sent in the connection's character set."));
        EXPECT_EQ(e.SQLCode(), -1);
        EXPECT_EQ(block, QByteArray("previous"));
    }
    EXPECT_THROW(TPB({S("lock_read=TABLE_Ω")}), EFIBClientError);
}

// ---------------------------------------------------------------------------------------------
// TPB

TEST(GenerateTPB, EmptyListGivesEmptyBlock) {
    TStringList params;
    QByteArray block("previous");
    qint16 length = 8;
    block = GenerateTPB(params, true);
    length = qint16(block.size());
    EXPECT_TRUE(block.isEmpty());
    EXPECT_EQ(length, 0);
}

TEST(GenerateTPB, ProgramLineSets) {
    const TBlock snapshot = TPB({S("write"), S("nowait"), S("concurrency")});
    EXPECT_EQ(snapshot.block, Bytes({3, 9, 7, 2}));
    EXPECT_EQ(snapshot.length, 4);
    const TBlock committed =
        TPB({S("write"), S("isc_tpb_nowait"), S("rec_version"), S("read_committed")});
    EXPECT_EQ(committed.block, Bytes({3, 9, 7, 17, 15}));
    EXPECT_EQ(committed.length, 5);
}

TEST(GenerateTPB, NamesCodesAndTrimming) {
    const std::pair<const char*, int> simple[] = {
        {"consistency", isc_tpb_consistency},
        {"concurrency", isc_tpb_concurrency},
        {"shared", isc_tpb_shared},
        {"protected", isc_tpb_protected},
        {"exclusive", isc_tpb_exclusive},
        {"wait", isc_tpb_wait},
        {"nowait", isc_tpb_nowait},
        {"read", isc_tpb_read},
        {"write", isc_tpb_write},
        {"ignore_limbo", isc_tpb_ignore_limbo},
        {"read_committed", isc_tpb_read_committed},
        {"rec_version", isc_tpb_rec_version},
        {"no_rec_version", isc_tpb_no_rec_version},
        {"no_auto_undo", isc_tpb_no_auto_undo},
    };
    for (const auto& [name, code] : simple) {
        const TBlock r = TPB({S("ISC_TPB_") + QString::fromLatin1(name).toUpper() + S("=x")});
        EXPECT_EQ(r.block, Bytes({3, code})) << name;
        EXPECT_EQ(r.length, 2) << name;
    }

    TStringList params({S("  write\t"), QString(), S("   "), S(" Read ")});
    int changes = 0;
    params.OnChange = [&](TObject*) { ++changes; };
    QByteArray block;
    qint16 length = 0;
    block = GenerateTPB(params, true);
    length = qint16(block.size());
    EXPECT_EQ(block, Bytes({3, 9, 8}));
    EXPECT_EQ(length, 3);
    EXPECT_EQ(params.ToStringList(), QStringList({S("write"), QString(), QString(), S("Read")}));
    EXPECT_EQ(changes, 4);

    // Only empty lines: the version byte alone.
    const TBlock blank = TPB({QString(), S(" ")});
    EXPECT_EQ(blank.block, Bytes({3}));
    EXPECT_EQ(blank.length, 1);
}

TEST(GenerateTPB, TableLocksAndLockTimeout) {
    const TBlock read = TPB({S("write"), S("lock_read=CLIENTS_MANDAT")});
    EXPECT_EQ(read.block, Bytes({3, 9, 10, 14}) + "CLIENTS_MANDAT");
    EXPECT_EQ(read.length, 18);
    EXPECT_EQ(TPB({S("isc_tpb_lock_write=BANQUE")}).block, Bytes({3, 11, 6}) + "BANQUE");
    EXPECT_EQ(TPB({S("lock_write")}).block, Bytes({3, 11, 0}));
    EXPECT_EQ(TPB({S("lock_read=Société")}).block, Bytes({3, 10, 7}) + "Soci\xe9t\xe9");

    EXPECT_EQ(TPB({S("lock_timeout=5")}, true).block, Bytes({3, 21, 2, 5, 0}));
    EXPECT_EQ(TPB({S("lock_timeout=300")}, true).block, Bytes({3, 21, 2, 44, 1}));
    EXPECT_EQ(TPB({S("lock_timeout=300")}, true).length, 5);
    EXPECT_EQ(TPB({S("lock_timeout=abc")}, true).block, Bytes({3, 21, 2, 10, 0}));
    EXPECT_EQ(TPB({S("isc_tpb_lock_timeout")}, true).block, Bytes({3, 21, 2, 10, 0}));
    EXPECT_EQ(TPB({S("no_savepoint")}, true).block, Bytes({3, 21, 2, 10, 0}));
    const TBlock older = TPB({S("write"), S("lock_timeout=5")}, false);
    EXPECT_EQ(older.block, Bytes({3, 9, 21}));
    EXPECT_EQ(older.length, 3);
}

TEST(GenerateTPB, UnsupportedAndUnknownNames) {
    for (const char* name : {"verb_time", "commit_time", "autocommit", "restart_requests"}) {
        const EFIBClientError e =
            ClientErrorOf([&] { TPB({S("isc_tpb_") + QString::fromLatin1(name).toUpper()}); });
        EXPECT_EQ(e.SQLCode(), 10) << name;
        EXPECT_EQ(e.Message(), S("TPB Constant (isc_tpb_") + S(name) + S(") is unsupported."));
    }
    const EFIBClientError e = ClientErrorOf([] { TPB({S("write"), S("Read Committed")}); });
    EXPECT_EQ(e.SQLCode(), 11);
    EXPECT_EQ(e.Message(), S("TPB Constant (read committed) is unknown."));
    EXPECT_EQ(ClientErrorOf([] { TPB({S("ISC_TPB_Foo=1")}); }).Message(),
              S("TPB Constant (foo) is unknown."));

    TStringList params({S(" write "), S(" bogus "), S(" read ")});
    QByteArray block("previous");
    EXPECT_THROW(block = GenerateTPB(params, true), EFIBClientError);
    EXPECT_EQ(block, QByteArray("previous"));
    EXPECT_EQ(params.ToStringList(), QStringList({S("write"), S("bogus"), S(" read ")}));
}

TEST(GenerateTPB, OverlongTableNamesAndBlocksAreRefused) {
    const QString t255(255, QLatin1Char('T'));
    EXPECT_EQ(TPB({S("lock_read=") + t255}).length, 258);
    const EFIBClientError e = ClientErrorOf([&] { TPB({S("lock_write=") + t255 + S("T")}); });
    EXPECT_EQ(e.SQLCode(), -1);
    EXPECT_EQ(e.Message(), S("TPB parameter lock_write: value too long (256 bytes, at most 255)"));

    QStringList lines;
    for (int i = 0; i < 127; ++i)
        lines << S("lock_read=") + t255;
    const TBlock largest =
        TPB(lines + QStringList{S("lock_write=") + QString(125, QLatin1Char('W'))});
    EXPECT_EQ(largest.length, 32767);
    EXPECT_EQ(largest.block.size(), 32767);
    EXPECT_EQ(ClientErrorOf([&] {
                  TPB(lines + QStringList{S("lock_write=") + QString(126, QLatin1Char('W'))});
              }).Message(),
              S("TPB too long (32768 bytes, at most 32767)"));
}

// A text goes out byte for byte while every character fits in one, whatever its length and
// wherever the others fall among the units copied together; otherwise the first character that
// does not fit is named, and nothing is delivered.
TEST(ServerAnsiText, EveryFittingTextGoesOutAndTheFirstOtherCharacterIsNamed) {
    const char16_t narrow[] = {u'a', u'Z', u'0', u' ', u'\'', u':', 0x7F, 0x80, 0xE9, 0xFF};
    const char16_t wide[] = {0x100, 0x1FF, 0x20AC, 0x8041, 0xFF00, 0xD83D, 0xDE00};
    QRandomGenerator random(20261210);
    QByteArray reused("déjà là");
    int refused = 0;
    for (int round = 0; round < 20000; ++round) {
        QString text;
        const int length = int(random.bounded(72));
        for (int k = 0; k < length; ++k)
            text += QChar(narrow[random.bounded(int(std::size(narrow)))]);
        // Half the texts get characters that do not fit, most of them a single one: anywhere
        // among the units copied together, it must be seen on its own.
        const int wideCount = random.bounded(2) == 0 ? 0 : random.bounded(4) == 0 ? 2 : 1;
        for (int k = 0; k < wideCount && length > 0; ++k)
            text[random.bounded(length)] = QChar(wide[random.bounded(int(std::size(wide)))]);
        qsizetype first = -1;
        for (qsizetype k = 0; k < text.size() && first < 0; ++k)
            if (text[k].unicode() > 0xFF) first = k;
        if (first < 0) {
            ServerAnsiTextInto(text, reused);
            ASSERT_EQ(reused, text.toLatin1()) << text.toStdString();
            ASSERT_EQ(ServerAnsiText(text), text.toLatin1());
            continue;
        }
        ++refused;
        try {
            ServerAnsiTextInto(text, reused);
            FAIL() << "accepted " << text.toStdString();
        } catch (const EFIBError& e) {
            EXPECT_TRUE(
                e.Message().contains(Format(QStringLiteral("at position %d "), qint32(first + 1))))
                << e.Message().toStdString();
        }
        EXPECT_TRUE(reused.isEmpty());
        reused = QByteArrayLiteral("déjà là");
    }
    EXPECT_GT(refused, 3000);
}
