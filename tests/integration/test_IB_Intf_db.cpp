// The binding driving the real client against the private server: what the server reports
// comes back in the calling thread's status vector and reads out through the binding.
#include "IB_Intf.h"

#include <gtest/gtest.h>

#include <QByteArray>

namespace {

QByteArray LoginBlock(const QByteArray& user, const QByteArray& password) {
    QByteArray dpb;
    dpb.append(char(isc_dpb_version1));
    dpb.append(char(isc_dpb_user_name)).append(char(user.size())).append(user);
    dpb.append(char(isc_dpb_password)).append(char(password.size())).append(password);
    return dpb;
}

} // namespace

TEST(IBClientLibraryServer, RefusedLoginComesBackInTheThreadsStatusVector) {
    IIBClientLibraryPtr library = GetClientLibrary(QStringLiteral("fbClient.dll"));
    const QByteArray database("127.0.0.1:TALVIK_GESTION");
    const QByteArray dpb = LoginBlock("RAVELIN_NOBODY", "not-a-password");
    isc_db_handle handle = 0;
    ISC_STATUS* status = StatusVector();

    ISC_STATUS result =
        library->isc_attach_database(status, short(database.size()), database.constData(), &handle,
                                     short(dpb.size()), dpb.constData());
    RestoreFPUControlWord();
    ASSERT_NE(result, 0);
    EXPECT_EQ(handle, 0u);
    EXPECT_EQ(status[0], isc_arg_gds);
    EXPECT_EQ(status[1], isc_login);
    EXPECT_EQ(library->isc_sqlcode(status), -902);
    EXPECT_FALSE(library->GetBusy());

    char message[512];
    const ISC_STATUS* cursor = status;
    ASSERT_GT(library->fb_interpret(message, sizeof message, &cursor), 0);
    EXPECT_NE(QByteArray(message).indexOf("user name and password"), -1) << message;
    EXPECT_GT(cursor, status);
}
