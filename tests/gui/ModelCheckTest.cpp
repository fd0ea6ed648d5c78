// SPDX-License-Identifier: GPL-3.0-or-later
#include "ModelCheck.h"

#include <QAbstractListModel>
#include <QStringList>
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

namespace {

// A list that adds two rows while it announces one.
class CMiscountingModel final : public QAbstractListModel {
public:
    int rowCount(const QModelIndex& parent = {}) const override
    {
        return parent.isValid() ? 0 : m_nRows;
    }
    QVariant data(const QModelIndex& index, int role) const override
    {
        return role == Qt::DisplayRole ? QVariant(index.row()) : QVariant();
    }
    void AddTwoAnnounceOne()
    {
        beginInsertRows({}, m_nRows, m_nRows);
        m_nRows += 2;
        endInsertRows();
    }

private:
    int m_nRows = 1;
};

QStringList& Seen()
{
    static QStringList seen;
    return seen;
}

TEST(ModelCheck, ABrokenModelFailsTheTestAndOtherMessagesPassThrough)
{
    const QtMessageHandler outer = qInstallMessageHandler(
        [](QtMsgType, const QMessageLogContext&, const QString& text) { Seen().append(text); });
    {
        CMiscountingModel model;
        CModelCheck check(model);
        EXPECT_NONFATAL_FAILURE(model.AddTwoAnnounceOne(), "model check");
        qWarning("ordinary");
    }
    qWarning("after");
    qInstallMessageHandler(outer);
    EXPECT_EQ(Seen(), (QStringList{QStringLiteral("ordinary"), QStringLiteral("after")}))
        << "the tester's warnings stop at the check, others go on, and the handler is restored";
}

} // namespace
