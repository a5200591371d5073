// The maker's home page, opened by the window's home-page button.
#pragma once

#include <QString>
#include <QUrl>

// Under the reserved ".example" domain until the project has a public home page.
inline constexpr char kHomePageURL[] = "https://bramwick.example/";

// The host name the home-page button shows.
inline QString HomePageHost() {
    return QUrl(QString::fromLatin1(kHomePageURL)).host();
}
