#include "browser-stand-in.h"

#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSignalSpy>

Hop fetch(const QUrl &url)
{
	QNetworkAccessManager manager;
	manager.setProxy(QNetworkProxy::NoProxy);
	QNetworkRequest request(url);
	request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
	QNetworkReply *reply = manager.get(request);
	QSignalSpy finished(reply, &QNetworkReply::finished);
	Hop hop;
	if (finished.wait(15000)) {
		hop.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
		hop.location = reply->rawHeader("Location");
		hop.body = reply->readAll();
	}
	delete reply;
	return hop;
}
