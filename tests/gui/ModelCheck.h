// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QAbstractItemModel>
#include <QAbstractItemModelTester>
#include <QString>
#include <QtGlobal>
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

// Checks a model with QAbstractItemModelTester for as long as the object lives, and turns each
// complaint of the tester into a failure of the running test. Fatal mode would abort the whole
// test program and QtTest mode needs a QTest run, so the tester warns and a message handler
// catches its warnings; other messages go on to the handler that was there before. Several
// checks may live at once; create and destroy them on the UI thread.
class CModelCheck {
public:
    // The model must outlive the check or be destroyed while it lives.
    explicit CModelCheck(const QAbstractItemModel& model)
    {
        if (s_nLive++ == 0)
            s_previous = qInstallMessageHandler(&CModelCheck::Handle);
        m_pTester = std::make_unique<QAbstractItemModelTester>(
            const_cast<QAbstractItemModel*>(&model),
            QAbstractItemModelTester::FailureReportingMode::Warning);
    }
    ~CModelCheck()
    {
        m_pTester.reset();
        if (--s_nLive == 0)
            qInstallMessageHandler(s_previous);
    }
    CModelCheck(const CModelCheck&) = delete;
    CModelCheck& operator=(const CModelCheck&) = delete;

private:
    static void Handle(QtMsgType type, const QMessageLogContext& context, const QString& text)
    {
        if (type != QtDebugMsg && type != QtInfoMsg && context.category &&
            std::strcmp(context.category, "qt.modeltest") == 0) {
            ADD_FAILURE() << "model check: " << text.toStdString();
            return;
        }
        if (s_previous)
            s_previous(type, context, text);
    }

    std::unique_ptr<QAbstractItemModelTester> m_pTester;

    static inline int s_nLive = 0;
    static inline QtMessageHandler s_previous = nullptr;
};
