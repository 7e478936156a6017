#include "heap-return.h"

#include "http/background-request.h"

#include <QTimer>

#ifdef __GLIBC__
#include <malloc.h>
#endif

HeapReturn::Release HeapReturn::systemRelease()
{
#ifdef __GLIBC__
	return [] {
		malloc_trim(0);
	};
#else
	return {};
#endif
}

HeapReturn::HeapReturn(QObject *parent, Release release, int intervalMs)
	: QObject(parent),
	  m_release(std::move(release)),
	  m_timer(new QTimer(this))
{
	m_timer->setSingleShot(true);
	m_timer->setInterval(intervalMs);
	connect(m_timer, &QTimer::timeout, this, [this] {
		// It walks every arena of the process: never on the GUI thread. Nothing comes back of it.
		runInBackground(
			this,
			[release = m_release] {
				release();
				return HttpResponse{};
			},
			[](const HttpResponse &) {}, RequestLane::Read);
	});
}

void HeapReturn::afterChurn()
{
	// Not restarted: changes every few seconds still give one release an interval.
	if (m_release && !m_timer->isActive())
		m_timer->start();
}
