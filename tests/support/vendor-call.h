#pragma once

#include "remote/websocket-vendor.h"

#include <QByteArray>
#include <QString>

// A vendor request as obs-websocket hands it over: "ok", or the answer's code and error text as
// "code: error" (a controller decides on the code, a person reads the text).
QString vendorCall(WebsocketVendor &vendor, const char *request, const QByteArray &data);
