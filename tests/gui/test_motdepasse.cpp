#include "MotDePasse.h"

#include <gtest/gtest.h>

TEST(MotDePasse, EachPositionIsFlippedByTwiceItsRank) {
    // Position i (from 1) is XORed with 2 × i: "A" (0x41) at 1 gives 0x43, at 11 gives 0x57.
    EXPECT_EQ(MotDePasseDepuis(QStringLiteral("AAAAAAAAAAA")),
              QString::fromLatin1("CE\x47IKMOQSUW"));
    // The routine is its own inverse, so a stored text can be made from any password.
    const QString mdp = MotDePasseGestion();
    EXPECT_EQ(mdp.size(), 11);
    EXPECT_EQ(MotDePasseDepuis(MotDePasseDepuis(mdp)), mdp);
    EXPECT_TRUE(MotDePasseDepuis(QString()).isEmpty());
}
