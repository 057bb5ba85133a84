// The connection's parameter lines: what their owner is told, the lookup by DPB code and the
// typed view TConnectParams.
#include "TestSupport.h"
#include "fib.h"
#include "pFIBProps.h"

#include <gtest/gtest.h>

namespace {

// Stands in for the connection: records what it is told, may refuse changes, and lends its
// parameter lines to TConnectParams.
class TRecordingOwner : public IDBParamsOwner, public IConnectParamsOwner {
public:
    TDBParams Params{this};
    QStringList Log;
    bool Refuse = false;

    void DBParamsChanging(TDBParams& params) override {
        EXPECT_EQ(&params, &Params);
        Log << S("changing:") + params.ToStringList().join(QLatin1Char('|'));
        if (Refuse) throw Exception(S("connected"));
    }
    void DBParamsChanged(TDBParams& params) override {
        Log << S("changed:") + params.ToStringList().join(QLatin1Char('|'));
    }
    TDBParams& DBParams() override { return Params; }
};

} // namespace

// ---------------------------------------------------------------------------------------------
// TDBParams

TEST(TDBParams, OwnerToldBeforeAndAfterEveryChange) {
    TRecordingOwner owner;
    EXPECT_EQ(owner.Params.Owner(), &owner);
    owner.Params.Add(S("user_name=SYSDBA"));
    owner.Params.SetStrings(0, S("user_name=ADMIN"));
    owner.Params.Delete(0);
    EXPECT_EQ(owner.Log, QStringList({S("changing:"), S("changed:user_name=SYSDBA"),
                                      S("changing:user_name=SYSDBA"), S("changed:user_name=ADMIN"),
                                      S("changing:user_name=ADMIN"), S("changed:")}));

    // A whole replacement is one change for the owner.
    owner.Log.clear();
    owner.Params.SetStringList({S("a=1"), S("b=2")});
    EXPECT_EQ(owner.Log, QStringList({S("changing:"), S("changed:a=1|b=2")}));

    // The list's own events still fire.
    int changes = 0;
    owner.Params.OnChange = [&](TObject*) { ++changes; };
    owner.Params.Clear();
    EXPECT_EQ(changes, 1);
}

TEST(TDBParams, OwnerRefusesAChange) {
    TRecordingOwner owner;
    owner.Params.SetStringList({S("  user_name=SYSDBA ")});
    owner.Refuse = true;
    owner.Log.clear();
    EXPECT_THROW(owner.Params.Add(S("password=x")), Exception);
    EXPECT_THROW(owner.Params.SetStringList({S("x=1")}), Exception);
    EXPECT_EQ(owner.Params.ToStringList(), QStringList({S("  user_name=SYSDBA ")}));
    EXPECT_EQ(owner.Log.filter(S("changed:")), QStringList());

    // Building the DPB trims the lines back into the list, which a connected owner refuses.
    QByteArray block;
    EXPECT_THROW(block = GenerateDPB(owner.Params, true), Exception);
    EXPECT_TRUE(block.isEmpty());

    owner.Refuse = false;
    owner.Log.clear();
    block = GenerateDPB(owner.Params, true);
    EXPECT_EQ(owner.Params.ToStringList(), QStringList({S("user_name=SYSDBA")}));
    EXPECT_EQ(owner.Log,
              QStringList({S("changing:  user_name=SYSDBA "), S("changed:user_name=SYSDBA")}));
}

TEST(TDBParams, WorksWithoutOwner) {
    TDBParams params;
    params.Add(S("user_name=SYSDBA"));
    EXPECT_EQ(params.Count(), 1);
    EXPECT_EQ(params.Owner(), nullptr);
}

// ---------------------------------------------------------------------------------------------
// Lookup by name and code

TEST(IndexOfDBConst, MatchesAtStartOrAfterEightCharacterPrefix) {
    TStringList params(
        {S("sys_user_name=ADMIN"), S("lc_ctype=UTF8"), S("isc_dpb_user_name=a"), S("USER_NAME=b")});
    EXPECT_EQ(IndexOfDBConst(params, S("user_name")), 2);
    EXPECT_EQ(IndexOfDBConst(params, S("User_Name")), 2);
    EXPECT_EQ(IndexOfDBConst(params, S("LC_CTYPE")), 1);
    EXPECT_EQ(IndexOfDBConst(params, S("password")), -1);
    EXPECT_EQ(IndexOfDBConst(params, QString()), -1);

    params.Delete(2);
    EXPECT_EQ(IndexOfDBConst(params, S("user_name")), 2);
    // Any eight characters may stand before the name; only the first occurrence counts, so
    // a value repeating the name does not make a line match.
    TStringList other({S("sys_user_name=user_name"), S("abcdefghuser_name=c")});
    EXPECT_EQ(IndexOfDBConst(other, S("user_name")), 1);
    // Only a to z are compared as capitals.
    TStringList accented({S("rôle=x")});
    EXPECT_EQ(IndexOfDBConst(accented, S("RÔLE")), -1);
    EXPECT_EQ(IndexOfDBConst(accented, S("RôLE")), 0);
}

TEST(DBParamByDPB, GetAndSet) {
    TStringList params({S("isc_dpb_user_name=SYSDBA"), S("lc_ctype"), S("password=a=b")});
    EXPECT_EQ(GetDBParamByDPB(params, 28), S("SYSDBA"));
    EXPECT_EQ(GetDBParamByDPB(params, 48), QString());
    EXPECT_EQ(GetDBParamByDPB(params, 29), S("a=b"));
    EXPECT_EQ(GetDBParamByDPB(params, 60), QString());
    params.Add(S("force=1"));
    EXPECT_EQ(GetDBParamByDPB(params, 83), S("1"));
    EXPECT_EQ(GetDBParamByDPB(params, 84), QString());
    EXPECT_EQ(GetDBParamByDPB(params, 0), QString());

    // The found line is replaced in place, under the table's name without prefix.
    SetDBParamByDPB(params, 28, S("ADMIN"));
    EXPECT_EQ(params[0], S("user_name=ADMIN"));
    SetDBParamByDPB(params, 60, S("RDB$ADMIN"));
    EXPECT_EQ(params.Count(), 5);
    EXPECT_EQ(params[4], S("sql_role_name=RDB$ADMIN"));

    SetDBParamByDPB(params, 28, QString());
    EXPECT_EQ(params.ToStringList(), QStringList({S("lc_ctype"), S("password=a=b"), S("force=1"),
                                                  S("sql_role_name=RDB$ADMIN")}));
    SetDBParamByDPB(params, 28, QString());
    SetDBParamByDPB(params, 84, S("x"));
    EXPECT_EQ(params.Count(), 4);
    EXPECT_EQ(GetDBParamByDPB(TStringList(), 29), QString());
}

// ---------------------------------------------------------------------------------------------
// TConnectParams

TEST(TConnectParams, PropertiesReadAndWriteTheirLines) {
    TRecordingOwner owner;
    TConnectParams cp(&owner);
    EXPECT_TRUE(cp.IsFirebird());
    EXPECT_EQ(cp.Owner(), &owner);

    cp.SetUserName(S("SYSDBA"));
    cp.SetCharSet(S("iso8859_1"));
    cp.SetPassword(S("secret"));
    cp.SetRoleName(S("Lecteur"));
    cp.IB2007().SetInstanceName(S("gds_db"));
    EXPECT_EQ(owner.Params.ToStringList(),
              QStringList({S("user_name=SYSDBA"), S("lc_ctype=ISO8859_1"), S("password=secret"),
                           S("sql_role_name=Lecteur"), S("instance_name=gds_db")}));
    EXPECT_EQ(cp.UserName(), S("SYSDBA"));
    EXPECT_EQ(cp.CharSet(), S("ISO8859_1"));
    EXPECT_EQ(cp.Password(), S("secret"));
    EXPECT_EQ(cp.RoleName(), S("Lecteur"));
    EXPECT_EQ(cp.IB2007().InstanceName(), S("gds_db"));

    // Only a to z become capitals.
    cp.SetCharSet(S("utf8é"));
    EXPECT_EQ(cp.CharSet(), S("UTF8é"));
    // Lines written by hand are seen through the view.
    owner.Params.SetStrings(0, S("ISC_DPB_USER_NAME=ADMIN"));
    EXPECT_EQ(cp.UserName(), S("ADMIN"));
    cp.SetPassword(QString());
    EXPECT_EQ(owner.Params.IndexOf(S("password=secret")), -1);
    EXPECT_EQ(cp.Password(), QString());

    // Only an InterBase connection sends the instance name.
    owner.Params.SetStringList({S("instance_name=gds_db")});
    QByteArray block = GenerateDPB(owner.Params, cp.IsFirebird());
    EXPECT_EQ(block.size(), 1);
    cp.SetIsFirebird(false);
    block = GenerateDPB(owner.Params, cp.IsFirebird());
    EXPECT_EQ(block, QByteArray("\x01\x4b\x06gds_db"));
}
