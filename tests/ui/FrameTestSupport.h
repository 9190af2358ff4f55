#pragma once
// What the window tests share: a QApplication for the whole binary, a profile with two sites,
// and recorders in place of the launcher, the file menu and the error box.

#include "platform/desktop/ErrorReport.h"
#include "platform/desktop/FileContextMenu.h"
#include "platform/desktop/ProcessLauncher.h"
#include "support/TempProfile.h"
#include "urlcache-writer/UrlCacheWriter.h"

#include <QApplication>
#include <QLabel>
#include <QMenu>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <memory>
#include <ostream>
#include <string>
#include <vector>

inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}
inline void PrintTo(const QStringList& texts, std::ostream* out) {
    *out << '[' << texts.join(QStringLiteral("\", \"")).toStdString() << ']';
}

class QtApplicationEnvironment : public testing::Environment {
public:
    void SetUp() override {
        static int argc = 1;
        static char name[] = "zezuvur-test";
        static char* argv[] = {name, nullptr};
        application_ = std::make_unique<QApplication>(argc, argv);
    }
    void TearDown() override { application_.reset(); }

private:
    std::unique_ptr<QApplication> application_;
};

inline testing::Environment* const kQtApplicationEnvironment =
    testing::AddGlobalTestEnvironment(new QtApplicationEnvironment);

// Two sites: alpha.example has something of every kind, beta.example one image and one visit.
class TwoSiteProfile : public zz_test::TempProfile {
public:
    TwoSiteProfile() : writer_(folder(), urlcache_writer::Layout::Vista) {
        using urlcache_writer::ContainerKind;
        AddFile("http://www.alpha.example/img/logo.gif", "logo.gif", 0, "GIF89a-one");
        AddFile("http://www.alpha.example/new/logo.gif", "logo.gif", 1, "GIF89a-two");
        AddFile("http://www.alpha.example/index.html", "index[1].htm", 0, "<html></html>");
        AddFile("http://www.alpha.example/song.mp3", "song[1].mp3", 1, "ID3-some-audio");
        AddFile("http://www.alpha.example/data.bin", "data[1].bin", 0, "binary");
        AddFile("http://beta.example/pic.png", "pic[1].png", 0, "PNG-ish");
        writer_.add(ContainerKind::Cookies,
                    Entry("Cookie:alice@alpha.example/", "alice@alpha[1].txt", 0, "c=1"));
        writer_.add(ContainerKind::History,
                    Entry("Visited: alice@http://www.alpha.example/index.html"));
        writer_.add(ContainerKind::History, Entry("Visited: alice@http://beta.example/"));
        writer_.write();
    }

    urlcache_writer::ProfileWriter& writer() { return writer_; }

    static urlcache_writer::Entry Entry(std::string url, std::optional<std::string> file = {},
                                        std::uint8_t subFolder = 0,
                                        std::optional<std::string> content = {}) {
        urlcache_writer::Entry entry;
        entry.url = std::move(url);
        entry.fileName = std::move(file);
        entry.subFolder = subFolder;
        entry.fileContent = std::move(content);
        return entry;
    }

private:
    void AddFile(std::string url, std::string file, std::uint8_t subFolder, std::string content) {
        writer_.add(urlcache_writer::ContainerKind::Content,
                    Entry(std::move(url), std::move(file), subFolder, std::move(content)));
    }

    urlcache_writer::ProfileWriter writer_;
};

// Records what would be started instead of starting it.
class LaunchRecorder {
public:
    LaunchRecorder()
        : previous_(desktop::SetLaunchFunction([this](const desktop::LaunchRequest& request) {
              requests.push_back(request);
              return true;
          })) {}
    ~LaunchRecorder() { desktop::SetLaunchFunction(previous_); }
    LaunchRecorder(const LaunchRecorder&) = delete;
    LaunchRecorder& operator=(const LaunchRecorder&) = delete;

    std::vector<desktop::LaunchRequest> requests;

private:
    desktop::LaunchFunction previous_;
};

// Records every menu shown (the texts of its actions, separators left out) and chooses the first
// action whose text starts with `choice`.
class MenuRecorder {
public:
    explicit MenuRecorder(QString choice = {})
        : previous_(desktop::SetMenuExecFunction([this, choice](QMenu& menu, QPoint) {
              QStringList texts;
              QAction* chosen = nullptr;
              for (QAction* action : menu.actions()) {
                  if (action->isSeparator())
                      continue;
                  texts << action->text();
                  if (!chosen && !choice.isEmpty() && action->text().startsWith(choice))
                      chosen = action;
              }
              menus.push_back(texts);
              return chosen;
          })) {}
    ~MenuRecorder() { desktop::SetMenuExecFunction(previous_); }
    MenuRecorder(const MenuRecorder&) = delete;
    MenuRecorder& operator=(const MenuRecorder&) = delete;

    std::vector<QStringList> menus;

private:
    desktop::MenuExecFunction previous_;
};

// Records error boxes instead of showing them.
class ErrorBoxRecorder {
public:
    struct Box {
        QString caption;
        QString message;
    };
    ErrorBoxRecorder()
        : previous_(
              desktop::SetErrorBoxFunction([this](const QString& caption, const QString& message) {
                  boxes.push_back({caption, message});
              })) {}
    ~ErrorBoxRecorder() { desktop::SetErrorBoxFunction(previous_); }
    ErrorBoxRecorder(const ErrorBoxRecorder&) = delete;
    ErrorBoxRecorder& operator=(const ErrorBoxRecorder&) = delete;

    std::vector<Box> boxes;

private:
    desktop::ErrorBoxFunction previous_;
};

// The six numbers of a count line, in the order it prints them.
inline std::vector<int> CountsOf(const QLabel* label) {
    std::vector<int> counts;
    static const QRegularExpression number(QStringLiteral("(\\d+)"));
    auto it = number.globalMatch(label->text());
    while (it.hasNext())
        counts.push_back(it.next().captured(1).toInt());
    return counts;
}
