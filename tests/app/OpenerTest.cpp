#include "app/Opener.h"

#include <gtest/gtest.h>

#include <QDesktopServices>
#include <QObject>
#include <QUrl>
#include <string>
#include <vector>

#include "TempDir.h"

namespace {

// Takes the place of the desktop's browser for every scheme a shortcut might name, so that
// nothing is really launched and every hand-over is seen.
class UrlRecorder : public QObject {
    Q_OBJECT
  public:
    UrlRecorder() {
        for (const char* scheme : kSchemes)
            QDesktopServices::setUrlHandler(scheme, this, "Open");
    }
    ~UrlRecorder() override {
        for (const char* scheme : kSchemes)
            QDesktopServices::unsetUrlHandler(scheme);
    }
    std::vector<std::string> opened;  // as handed over, fully encoded

  public slots:
    void Open(const QUrl& url) { opened.push_back(url.toEncoded().toStdString()); }

  private:
    static constexpr const char* kSchemes[] = {"http", "https", "ftp", "file", "javascript"};
};

}  // namespace

TEST(DesktopOpener, OpensTheShortcutsWebAddressAndNothingElse) {
    testsupport::TempDir dir;
    UrlRecorder recorder;
    TDesktopOpener opener;
    auto open = [&](const char* content) {
        opener.OpenShortcut(dir.Write("s.url", content).string());
    };
    open(
        "[DEFAULT]\nBASEURL=http://base.example/\n[InternetShortcut]\nURL=https://b.example/"
        "a?x=1\n");
    open("[InternetShortcut]\nURL=http://c.example/mit Leerzeichen\n");
    open("[InternetShortcut]\nURL=file:///usr/bin/xterm\n");
    open("[InternetShortcut]\nURL=javascript:alert(1)\n");
    open("[InternetShortcut]\n");
    opener.OpenShortcut((dir.Path() / "missing.url").string());
    EXPECT_EQ(recorder.opened, (std::vector<std::string>{"https://b.example/a?x=1",
                                                         "http://c.example/mit%20Leerzeichen"}));
}

#include "OpenerTest.moc"
