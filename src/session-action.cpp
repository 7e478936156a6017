#include "session-action.h"

#include <algorithm>

namespace {
const OutcomeRow *rowOf(SessionAction::Outcome outcome)
{
	const auto found = std::find_if(OUTCOME_ROWS.cbegin(), OUTCOME_ROWS.cend(),
					[outcome](const OutcomeRow &row) { return row.outcome == outcome; });
	return found == OUTCOME_ROWS.cend() ? nullptr : &*found;
}
} // namespace

SessionAction SessionAction::skip(Origin origin)
{
	SessionAction action;
	action.kind = Kind::Skip;
	action.origin = origin;
	return action;
}

SessionAction SessionAction::decision(const QString &messageId, bool accept, Origin origin)
{
	SessionAction action;
	action.kind = Kind::Decision;
	action.messageId = messageId;
	action.accept = accept;
	action.origin = origin;
	return action;
}

SessionAction SessionAction::decisionOnFirst(bool accept, Origin origin)
{
	SessionAction action = decision(QString(), accept, origin);
	action.firstPending = true;
	return action;
}

SessionAction SessionAction::moderation(bool enabled, Origin origin)
{
	SessionAction action;
	action.kind = Kind::ModerationSwitch;
	action.enabled = enabled;
	action.origin = origin;
	return action;
}

void SessionAction::end(Outcome ended)
{
	outcome = ended;
	ok = outcome == Outcome::Done;
	code = outcomeCode(outcome);
	error = outcomeText(outcome);
}

QString outcomeCode(SessionAction::Outcome outcome)
{
	const OutcomeRow *row = rowOf(outcome);
	return row ? QString::fromUtf8(row->code) : QString();
}

QString outcomeText(SessionAction::Outcome outcome)
{
	const OutcomeRow *row = rowOf(outcome);
	return row ? QString::fromUtf8(row->text) : QString();
}
