#include "vendor-call.h"

#include <obs-data.h>

QString vendorCall(WebsocketVendor &vendor, const char *request, const QByteArray &data)
{
	obs_data_t *requestData = obs_data_create_from_json(data.constData());
	obs_data_t *responseData = obs_data_create();
	vendor.handle(request, requestData, responseData);
	const QString answer = obs_data_get_bool(responseData, "ok")
				       ? QStringLiteral("ok")
				       : QString::fromUtf8(obs_data_get_string(responseData, "code")) + ": " +
						 QString::fromUtf8(obs_data_get_string(responseData, "error"));
	obs_data_release(requestData);
	obs_data_release(responseData);
	return answer;
}
