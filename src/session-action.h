#pragma once

#include <QMetaType>
#include <QString>

#include <array>

// What the streamer can do on the service, who asked for it, and how it went: the one vocabulary of the
// session and of every view that takes or tells of an action (the dock, the hotkeys, the obs-websocket
// vendor). An action is made by its maker, never field by field.
struct SessionAction {
	enum class Kind { Skip, Decision, ModerationSwitch };
	// Who asked: the streamer in the dock, the streamer's key, a hotkey pressed by anything else
	// (obs-websocket's TriggerHotkeyByName), a controller's vendor request.
	enum class Origin { Dock, Key, Hotkey, Controller };
	// Why an action was not taken, or how it ended. Each has one stable code for controllers and one
	// English text for the log and for people (outcomeCode, outcomeText).
	enum class Outcome {
		Done,           // started (or set to follow the action of its kind under way); ended well
		NotSignedIn,    // refused: nobody was signed in when it was asked for
		Busy,           // refused: the same action is already under way
		NothingPending, // refused: no message waits for moderation
		UnknownMessage, // refused: no pending message has this id
		SwitchedOff,    // refused: the streamer switched remote control off
		ShuttingDown,   // refused: OBS is quitting
		MissingField,   // refused: a controller's request lacks a field, or has one of the wrong type
		ServiceFailed,  // ended: the service answered with a failure, or not at all
		SignedOut,      // ended: it had started, and the streamer signed out before the service answered
	};

	static SessionAction skip(Origin origin);
	static SessionAction decision(const QString &messageId, bool accept, Origin origin);
	// A decision on the message that has waited longest, chosen when the action runs.
	static SessionAction decisionOnFirst(bool accept, Origin origin);
	static SessionAction moderation(bool enabled, Origin origin);

	// The streamer's own press, in the dock or on a key: it is never turned away because a hotkey's or a
	// controller's action of its kind is under way, it follows that one.
	bool streamersOwn() const { return origin == Origin::Dock || origin == Origin::Key; }
	// Marks the action ended (or refused) with this outcome; ok, code and error follow from it.
	void end(Outcome outcome);

	Kind kind = Kind::Skip;
	// The decided message (a decision); empty otherwise.
	QString messageId;
	// A decision on the message that has waited longest: messageId is set when it runs.
	bool firstPending = false;
	bool accept = false;  // a decision: accepted, else rejected
	bool enabled = false; // a moderation switch: the state asked for
	Origin origin = Origin::Dock;
	// Set when it ends: its outcome, whether it went well, and else the outcome's code and text.
	Outcome outcome = Outcome::Done;
	bool ok = false;
	QString code;
	QString error;
};

// Every outcome but Done, as the log and controllers are told of it: a stable word a controller decides on
// and an English text for a person. docs/remote-control.md lists them in this order.
struct OutcomeRow {
	SessionAction::Outcome outcome;
	const char *code;
	const char *text;
};
inline constexpr std::array<OutcomeRow, 9> OUTCOME_ROWS{{
	{SessionAction::Outcome::SwitchedOff, "switchedOff", "switched off in the Tiplark dock"},
	{SessionAction::Outcome::ShuttingDown, "shuttingDown", "shutting down"},
	// A request's own answer names its fields instead.
	{SessionAction::Outcome::MissingField, "missingField", "a required field is missing or of the wrong type"},
	{SessionAction::Outcome::NotSignedIn, "notSignedIn", "not signed in"},
	{SessionAction::Outcome::NothingPending, "nothingPending", "nothing pending"},
	{SessionAction::Outcome::UnknownMessage, "unknownMessage", "no pending message with this messageId"},
	{SessionAction::Outcome::Busy, "busy", "busy: the same action is already under way"},
	{SessionAction::Outcome::ServiceFailed, "serviceFailed", "the service call failed"},
	{SessionAction::Outcome::SignedOut, "signedOut", "signed out before the service answered"},
}};

// The outcome's row's code and text; both empty for Done.
QString outcomeCode(SessionAction::Outcome outcome);
QString outcomeText(SessionAction::Outcome outcome);

Q_DECLARE_METATYPE(SessionAction)
