#pragma once

#include "labels/label-text.h"

#include <obs.h>

#include <mutex>
#include <vector>

struct LabelSource;

// The "Tiplark: etykieta" source type and the labels alive in OBS's scenes. OBS creates, updates, draws
// and destroys labels on its own threads; the session's facts come from the GUI thread. They meet only
// here, under one mutex, as plain values: no label touches a QObject. Each label draws through a private
// OBS text source, whose settings are handed the new text (obs_source_update is safe from any thread;
// the text source reads it at its next tick), so a label costs nothing per frame beyond that source.
class LabelSources {
public:
	// Once, at module load. This object must outlive every label: OBS releases its sources before it
	// unloads modules.
	void registerType();
	// From the GUI thread: the facts every label shows from now on. A label whose text is unchanged is
	// left alone.
	void publish(const LabelFacts &facts);

private:
	friend struct LabelSource;
	void add(LabelSource *label);
	void remove(LabelSource *label);
	// The label's settings changed: its text is composed anew and handed to its text source with them.
	void settingsChanged(LabelSource *label, const LabelSettings &settings, obs_data_t *textSettings);

	std::mutex m_mutex;
	LabelFacts m_facts;
	std::vector<LabelSource *> m_labels;
};
