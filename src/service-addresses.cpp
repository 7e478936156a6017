#include "service-addresses.h"

#include "build-config.h"
#include "log-text.h"
#include "plugin-support.h"

#include <QHostAddress>
#include <QUrl>

namespace {
bool acceptable(const QString &text, QString *whyNot)
{
	const QUrl url(text, QUrl::StrictMode);
	const QString scheme = url.scheme();
	QString problem;
	if (!url.isValid() || url.host().isEmpty())
		problem = QStringLiteral("not an absolute address");
	else if (scheme != QLatin1String("https") && scheme != QLatin1String("http"))
		problem = QStringLiteral("neither https nor http");
	else if (scheme == QLatin1String("http") && !QHostAddress(url.host()).isLoopback())
		problem = QStringLiteral("http only to a loopback IP address");
	else if (!url.userInfo().isEmpty() || url.hasQuery() || url.hasFragment())
		problem = QStringLiteral("user name, query or fragment");
	if (!problem.isEmpty() && whyNot)
		*whyNot = QStringLiteral("%1 (%2)").arg(text, problem);
	return problem.isEmpty();
}

QString withoutTrailingSlash(QString text)
{
	while (text.endsWith(QLatin1Char('/')))
		text.chop(1);
	return text;
}
} // namespace

ServiceAddresses ServiceAddresses::production()
{
	return {QStringLiteral(TIPLARK_API_BASE_URL), QStringLiteral(TIPLARK_OAUTH_BASE_URL)};
}

QString ServiceAddresses::oauthOrigin() const
{
	return origin(oauthBaseUrl);
}

QString ServiceAddresses::apiOrigin() const
{
	return origin(apiBaseUrl);
}

QString ServiceAddresses::origin(const QString &address)
{
	QUrl url(address);
	// Anything that is no address stays as it is: it can only equal itself.
	if (!url.isValid() || url.scheme().isEmpty() || url.host().isEmpty())
		return address;
	QString host = url.host();
	if (host.endsWith(QLatin1Char('.')))
		host.chop(1);
	url.setHost(host);
	const QString scheme = url.scheme().toLower();
	if ((scheme == QLatin1String("https") && url.port() == 443) ||
	    (scheme == QLatin1String("http") && url.port() == 80))
		url.setPort(-1);
	return url.adjusted(QUrl::RemoveUserInfo | QUrl::RemovePath | QUrl::RemoveQuery | QUrl::RemoveFragment)
		.toString();
}

std::optional<ServiceAddresses> ServiceAddresses::fromOverride(const QString &apiBaseUrl, const QString &oauthBaseUrl,
							       QString *whyNot)
{
	if (apiBaseUrl.isEmpty() || oauthBaseUrl.isEmpty()) {
		if (whyNot)
			*whyNot = QStringLiteral("both " TIPLARK_API_BASE_URL_VARIABLE
						 " and " TIPLARK_OAUTH_BASE_URL_VARIABLE " are needed");
		return std::nullopt;
	}
	const ServiceAddresses addresses{withoutTrailingSlash(apiBaseUrl), withoutTrailingSlash(oauthBaseUrl)};
	if (!acceptable(addresses.apiBaseUrl, whyNot) || !acceptable(addresses.oauthBaseUrl, whyNot))
		return std::nullopt;
	return addresses;
}

ServiceAddresses serviceAddressesFromEnvironment()
{
	const QString api = qEnvironmentVariable(TIPLARK_API_BASE_URL_VARIABLE);
	const QString oauth = qEnvironmentVariable(TIPLARK_OAUTH_BASE_URL_VARIABLE);
	if (api.isEmpty() && oauth.isEmpty())
		return ServiceAddresses::production();
	QString whyNot;
	if (const auto addresses = ServiceAddresses::fromOverride(api, oauth, &whyNot)) {
		obs_log(LOG_WARNING, "Tiplark: Service addresses overridden by the environment: API %s, OAuth %s",
			addresses->apiBaseUrl.toUtf8().constData(), addresses->oauthBaseUrl.toUtf8().constData());
		return *addresses;
	}
	const ServiceAddresses production = ServiceAddresses::production();
	obs_log(LOG_WARNING, "Tiplark: Service address override ignored: %s; using API %s, OAuth %s",
		logText(whyNot).constData(), production.apiBaseUrl.toUtf8().constData(),
		production.oauthBaseUrl.toUtf8().constData());
	return production;
}
