#include "MotDePasse.h"

namespace {
const char16_t TexteStocke[] = u"mod~8;YEgp.";
}

QString MotDePasseDepuis(const QString& stocke) {
    QString resultat = stocke;
    for (qsizetype i = resultat.size(); i >= 1; --i)
        resultat[i - 1] = QChar(char16_t(resultat.at(i - 1).unicode() ^ char16_t(2 * i)));
    return resultat;
}

QString MotDePasseGestion() {
    return MotDePasseDepuis(QString::fromUtf16(TexteStocke));
}
