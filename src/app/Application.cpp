#include "app/Application.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

#ifdef __GLIBC__
#include <malloc.h>
#endif

void SetUpApplication(QApplication& app) {
    QApplication::setApplicationName(QStringLiteral("Kelpora"));
    auto* qtTexts = new QTranslator(&app);
    if (qtTexts->load(QLocale(QLocale::German, QLocale::Germany), QStringLiteral("qtbase"),
                      QStringLiteral("_"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(qtTexts);
    else
        delete qtTexts;
}

void KeepFreedHeap() {
#ifdef __GLIBC__
    mallopt(M_TRIM_THRESHOLD, 16 << 20);
    mallopt(M_TOP_PAD, 2 << 20);
#endif
}
