// The main window when the server cannot be reached: one error box, then a usable window.
#include "BoxRecorder.h"
#include "Controls.h"
#include "Unit1.h"
#include "pFIBDatabase.h"

#include <QTest>

#include <gtest/gtest.h>

TEST(FenetreSansServeur, ShowsOneErrorBoxAndStaysUsable) {
    BoxRecorder boxes;
    TfrmPrincipale frm;
    ASSERT_EQ(boxes.errors.size(), 1u);
    EXPECT_TRUE(boxes.errors[0].text.startsWith(QStringLiteral("frmPrincipale.dbSource:\r\n")))
        << boxes.errors[0].text.toStdString();
    EXPECT_EQ(boxes.errors[0].caption, TitreApplication());
    EXPECT_FALSE(frm.dbSource->Connected());
    EXPECT_FALSE(frm.transSource->Active());
    const QString pasDeBanque = QStringLiteral("Vous devez sélectionner une banque");
    EXPECT_EQ(frm.lblAncien_Info->text(), pasDeBanque);
    EXPECT_EQ(frm.lblNouveau_Info->text(), pasDeBanque);

    frm.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&frm));
    // Closing a window that never connected does nothing but close.
    EXPECT_TRUE(frm.close());
    EXPECT_FALSE(frm.isVisible());
    EXPECT_EQ(boxes.errors.size(), 1u);
}
