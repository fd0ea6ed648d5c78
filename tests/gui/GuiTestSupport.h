#pragma once

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTest>

#include <filesystem>
#include <string>

// Runs the event loop until done() holds or the (generous) bound passes; returns done().
template <class Done>
bool WaitUntil(Done done, int boundMs = 20000)
{
    QDeadlineTimer deadline(boundMs);
    while (!done()) {
        if (deadline.hasExpired())
            return done();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QTest::qSleep(1);
    }
    return true;
}

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
