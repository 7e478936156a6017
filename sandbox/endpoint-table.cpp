#include "endpoint-table.h"

namespace Sandbox {

QByteArray Request::header(const QByteArray &name) const
{
	for (const QByteArray &line : headerLines) {
		const int colon = line.indexOf(':');
		if (colon > 0 && line.left(colon).trimmed().compare(name, Qt::CaseInsensitive) == 0)
			return line.mid(colon + 1).trimmed();
	}
	return QByteArray();
}

QList<QByteArray> Request::headerNames() const
{
	QList<QByteArray> names;
	for (const QByteArray &line : headerLines)
		names.append(line.left(line.indexOf(':')));
	return names;
}

Reply Reply::json(int status, const QByteArray &body)
{
	Reply reply;
	reply.status = status;
	reply.body = body;
	return reply;
}

Fault Fault::respond(int status, const QByteArray &body, const QByteArray &contentType)
{
	Fault fault;
	fault.status = status;
	fault.body = body;
	fault.contentType = contentType;
	return fault;
}

Fault Fault::close()
{
	Fault fault;
	fault.kind = Kind::Close;
	return fault;
}

Fault Fault::hold()
{
	Fault fault;
	fault.kind = Kind::Hold;
	return fault;
}

Fault Fault::redirect(const QByteArray &location, int status)
{
	Fault fault;
	fault.kind = Kind::Redirect;
	fault.status = status;
	fault.location = location;
	return fault;
}

Fault Fault::malformed()
{
	Fault fault;
	fault.kind = Kind::Malformed;
	return fault;
}

Fault Fault::large(qint64 size)
{
	Fault fault;
	fault.kind = Kind::Large;
	fault.size = size;
	return fault;
}

Fault Fault::raw(const QByteArray &bytes)
{
	Fault fault;
	fault.kind = Kind::Raw;
	fault.body = bytes;
	return fault;
}

Fault Fault::drip(const QByteArray &body, qint64 pieceBytes, int intervalMs)
{
	Fault fault;
	fault.kind = Kind::Drip;
	fault.body = body;
	fault.size = qMax<qint64>(pieceBytes, 1);
	fault.intervalMs = intervalMs;
	return fault;
}

Fault &Fault::delayed(int ms)
{
	delayMs = ms;
	return *this;
}

Fault &Fault::once(int count)
{
	times = count;
	return *this;
}

Fault &Fault::forMethod(const QByteArray &name)
{
	method = name;
	return *this;
}

void State::set(const QString &key, const QVariant &value)
{
	QMutexLocker lock(&mutex);
	values.insert(key, value);
}

QVariant State::value(const QString &key)
{
	QMutexLocker lock(&mutex);
	return values.value(key);
}

} // namespace Sandbox
