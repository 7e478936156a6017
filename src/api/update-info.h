#pragma once

#include <QByteArray>
#include <QString>

enum class UpdatePlatform { Windows, MacOS, Linux, Other };

// What the service publishes about the plug-in's latest release. Every member is text; a missing or
// non-string member reads as empty.
struct UpdateInfo {
	QString version;
	QString downloadUrl;
	QString downloadUrlWindows;
	QString downloadUrlMacos;
	QString downloadUrlLinux;

	static UpdateInfo fromJson(const QByteArray &body);

	// The platform's own download when it has one, else the generic one (possibly empty).
	QString downloadUrlFor(UpdatePlatform platform) const;
};

// The platform this build runs on.
UpdatePlatform hostUpdatePlatform();

// QVersionNumber's reading: the leading dot-separated numbers count, any suffix is ignored, a text
// that does not begin with a digit is the empty version, and extra segments make a version newer.
bool isNewerVersion(const QString &published, const QString &running);

// Why a published download address may not be handed to the desktop, or an empty text when it may: an
// https address (http only to a loopback IP address, and only from a local stand-in service) with a
// host, without user name or backslash, that a strict reading leaves exactly as it came. Anything
// else could open a file or a local program, or name one host to Qt and another to a browser.
QString downloadAddressProblem(const QString &address, bool localService);
