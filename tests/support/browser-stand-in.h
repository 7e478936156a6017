#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QUrl>

// Stands in for the desktop's URL handler: with QDesktopServices::setUrlHandler(scheme, &catcher, "open")
// every address the plug-in opens is kept here instead of going to a browser.
class UrlCatcher : public QObject {
	Q_OBJECT

public slots:
	void open(const QUrl &url) { urls.append(url); }

public:
	QList<QUrl> urls;
};

// One GET as a browser makes it, without following redirects; status 0 when nothing came back in 15 s.
struct Hop {
	int status = 0;
	QByteArray location;
	QByteArray body;
};
Hop fetch(const QUrl &url);
