// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "WaitUntil.h"

#include "app/CatalogDlg.h"

#include <QAbstractItemModel>
#include <QLatin1String>
#include <QString>
#include <QTreeView>

#include <QPlainTextEdit>

#include <filesystem>
#include <stdexcept>
#include <string>

// Makes folder the current folder for the life of the object: the program looks for
// autorun.inf there. An empty folder leaves the current one.
class CCurrentFolder {
public:
    explicit CCurrentFolder(const std::string& folder)
        : m_previous(std::filesystem::current_path())
    {
        if (!folder.empty())
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

    // An empty drive: the program's own current folder, as with a start path.
    explicit CMainWindow(const std::string& drive = {})
        : m_folder(drive)
    {}

    // Shows the window; it then looks for autorun.inf and scans. True once the scan said
    // "Done." (set up drive sources, openers and model checks before).
    bool Start(int heartbeatMs = 1)
    {
        show();
        return WaitForDone(heartbeatMs);
    }

    // The controls and models, found as a check from outside finds them: by object name.
    CApplicationView& ApplicationView() { return Find<CApplicationView>("applicationView"); }
    const CApplicationView& ApplicationView() const
    {
        return Find<CApplicationView>("applicationView");
    }
    const CCatalogModel& CatalogModel() const { return Find<CCatalogModel>("catalogModel"); }
    QTreeView& CatalogTree() const { return Find<QTreeView>("catalogTree"); }
    QTreeView& FileList() const { return Find<QTreeView>("fileList"); }
    QPlainTextEdit& DescriptionPane() const { return Find<QPlainTextEdit>("description"); }
    CStatusBar& StatusBar() const { return Find<CStatusBar>("statusBar"); }
    const std::string& CurrentFolder() const { return ApplicationView().CurrentFolder(); }

    QString Status(int part) const { return StatusBar().GetText(part); }
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
    template <class T>
    T& Find(const char* name) const
    {
        auto* found = findChild<T*>(QString::fromLatin1(name));
        if (!found)
            throw std::runtime_error(std::string("no ") + name + " in the main window");
        return *found;
    }
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
