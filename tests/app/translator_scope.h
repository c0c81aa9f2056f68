#pragma once

#include "translations.h"

#include <QCoreApplication>
#include <QTranslator>

// Installs the translations of `locale` from the build tree for the life of
// the scope, and takes every installed translator away again at its end, so
// that the next test sees the English source texts.
class TranslatorScope {
public:
    explicit TranslatorScope(const QLocale& locale)
        : m_found(zapfer::installTranslations(locale, {QStringLiteral(ZAPFER_QM_DIR)})) {}
    ~TranslatorScope() {
        for (QTranslator* translator :
             QCoreApplication::instance()->findChildren<QTranslator*>(Qt::FindDirectChildrenOnly)) {
            QCoreApplication::removeTranslator(translator);
            delete translator;
        }
    }
    TranslatorScope(const TranslatorScope&) = delete;
    TranslatorScope& operator=(const TranslatorScope&) = delete;

    bool found() const { return m_found; }

private:
    bool m_found;
};
