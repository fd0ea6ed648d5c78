// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "WaitUntil.h"

#include "app/CatalogDlg.h"

#include <QAbstractItemModel>
#include <QLatin1String>
#include <QString>
#include <QTreeView>

#include <filesystem>
#include <string>

// Makes folder the current folder for the life of the object: the program looks for
// autorun.inf there.
class CCurrentFolder {
public:
    explicit CCurrentFolder(const std::string& folder)
        : m_previous(std::filesystem::current_path())
    {
        std::filesystem::current_path(folder);
    }
    ~CCurrentFolder() { std::filesystem::current_path(m_previous); }
    CCurrentFolder(const CCurrentFolder&) = delete;
    CCurrentFolder& operator=(const CCurrentFolder&) = delete;

private:
    std::filesystem::path m_previous;
};

// The real main window in a drive's folder, as the program starts there, for tests and
// benchmarks alike: they drive it and read it as a person does. Free of the test framework.
class CMainWindow : public CCatalogDlg {
public:
    static constexpr int kBoundMs = 20000;

    explicit CMainWindow(const std::string& drive)
        : m_folder(drive)
    {}

    // Shows the window; it then looks for autorun.inf and scans. True once the scan said
    // "Done." (set up drive sources, openers and model checks before).
    bool Start(int heartbeatMs = 1)
    {
        show();
        return WaitForDone(heartbeatMs);
    }

    QString Status(int part) { return StatusBar().GetText(part); }
    bool WaitForDone(int heartbeatMs = 1)
    {
        return WaitUntil([&] { return Status(0) == QLatin1String("Done."); }, kBoundMs,
                         heartbeatMs);
    }
    // The selected application's files are all listed.
    bool WaitForListing(int heartbeatMs = 1)
    {
        return WaitUntil(
            [&] { return !ApplicationView().IsListing() && Status(0) == QLatin1String("Done."); },
            kBoundMs, heartbeatMs);
    }

    // The category node, or the application node of that category; invalid when missing.
    QModelIndex Node(const QString& category, const QString& application = {}) const
    {
        const QAbstractItemModel& model = CatalogModel();
        const QModelIndex root = model.index(0, 0);
        const QModelIndex found = Child(model, root, category);
        return application.isNull() ? found : Child(model, found, application);
    }
    // Makes that node current, as a click or the keyboard does; false when it is missing.
    bool Select(const QString& category, const QString& application = {})
    {
        const QModelIndex node = Node(category, application);
        if (node.isValid())
            CatalogTree().setCurrentIndex(node);
        return node.isValid();
    }

private:
    static QModelIndex Child(const QAbstractItemModel& model, const QModelIndex& parent,
                             const QString& text)
    {
        for (int row = 0; parent.isValid() && row < model.rowCount(parent); ++row) {
            const QModelIndex child = model.index(row, 0, parent);
            if (child.data().toString() == text)
                return child;
        }
        return {};
    }

    CCurrentFolder m_folder; // the window looks there when it is shown
};
