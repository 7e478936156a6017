#include "label-sources.h"

#include "plugin-support.h"

#include <obs-module.h>

#include <QByteArray>

#include <algorithm>

namespace {
const char *const TYPE_ID = "tiplark_label";
// OBS's own text source on Linux; OBS names its newest version from this id.
const char *const TEXT_TYPE = "text_ft2_source";
const char *const SHOW = "show";
const char *const PREFIX = "prefix";
const char *const SUFFIX = "suffix";
const char *const NOTHING_YET = "nothing_yet";
const char *const WITH_MESSAGE = "with_message";
// The text source's own ways to its text: the label sets the text itself.
const char *const TEXT_SOURCE_OWN_TEXT[] = {"text", "from_file", "text_file", "log_mode", "log_lines", "chatlog"};

// What the label hands its text source of its own settings: the look only. Its settings may hold any key
// (obs-websocket sets them as it is told), and the text source would read a file named there.
obs_data_t *textSourceSettings(obs_data_t *settings)
{
	obs_data_t *look = obs_data_create();
	obs_data_apply(look, settings);
	for (const char *own : TEXT_SOURCE_OWN_TEXT)
		obs_data_erase(look, own);
	return look;
}

const struct {
	const char *value;
	LabelSettings::Show show;
	const char *title;
} SHOW_CHOICES[] = {
	{"last", LabelSettings::Show::Last, "Ostatnia wpłata"},
	{"largest", LabelSettings::Show::Largest, "Największa wpłata tej sesji"},
	{"total", LabelSettings::Show::Total, "Suma tej sesji"},
	{"count", LabelSettings::Show::Count, "Liczba wpłat tej sesji"},
};

LabelSettings readSettings(obs_data_t *settings)
{
	LabelSettings label;
	const char *show = obs_data_get_string(settings, SHOW);
	for (const auto &choice : SHOW_CHOICES)
		if (strcmp(show, choice.value) == 0)
			label.show = choice.show;
	label.prefix = QString::fromUtf8(obs_data_get_string(settings, PREFIX));
	label.suffix = QString::fromUtf8(obs_data_get_string(settings, SUFFIX));
	label.nothingYet = QString::fromUtf8(obs_data_get_string(settings, NOTHING_YET));
	label.withMessage = obs_data_get_bool(settings, WITH_MESSAGE);
	return label;
}

// Null where OBS has no text source (libobs asserts on asking for the newest version of a type it lacks).
const char *textTypeId()
{
	const char *unversioned = nullptr;
	for (size_t i = 0; obs_enum_input_types2(i, nullptr, &unversioned); ++i)
		if (strcmp(unversioned, TEXT_TYPE) == 0)
			return obs_get_latest_input_type_id(TEXT_TYPE);
	return nullptr;
}
} // namespace

struct LabelSource {
	LabelSources *sources = nullptr;
	obs_source_t *self = nullptr;
	// The private text source that draws the label; null where OBS has none.
	obs_source_t *text = nullptr;
	// Under the sources' mutex.
	LabelSettings settings;
	QString shown;

	// With the sources' mutex held: the text for facts, handed to the text source if it changed or
	// textSettings come with it.
	void show(const LabelFacts &facts, obs_data_t *textSettings = nullptr)
	{
		const QString now = labelText(settings, facts);
		if (now == shown && !textSettings)
			return;
		shown = now;
		obs_data_t *update = textSettings ? textSourceSettings(textSettings) : obs_data_create();
		obs_data_set_string(update, "text", shown.toUtf8().constData());
		if (text)
			obs_source_update(text, update);
		obs_data_release(update);
	}

	static const char *name(void *) { return "Tiplark: etykieta"; }

	static void *create(obs_data_t *settings, obs_source_t *self)
	{
		auto *label = new LabelSource;
		label->sources = static_cast<LabelSources *>(obs_source_get_type_data(self));
		label->self = self;
		const char *textType = textTypeId();
		if (textType) {
			// A copy: libobs keeps the data it is given, and the label's own settings never hold the text.
			obs_data_t *textSettings = textSourceSettings(settings);
			label->text = obs_source_create_private(textType, "tiplark-label-text", textSettings);
			obs_data_release(textSettings);
		} else
			obs_log(LOG_WARNING, "Tiplark: No text source in this OBS; labels stay empty");
		label->sources->add(label);
		label->sources->settingsChanged(label, readSettings(settings), settings);
		return label;
	}

	static void destroy(void *data)
	{
		auto *label = static_cast<LabelSource *>(data);
		label->sources->remove(label);
		obs_source_release(label->text);
		delete label;
	}

	static void update(void *data, obs_data_t *settings)
	{
		auto *label = static_cast<LabelSource *>(data);
		label->sources->settingsChanged(label, readSettings(settings), settings);
	}

	static void defaults(obs_data_t *settings)
	{
		obs_data_set_default_string(settings, SHOW, SHOW_CHOICES[0].value);
		obs_data_set_default_string(settings, NOTHING_YET, "—");
		obs_data_set_default_bool(settings, WITH_MESSAGE, false);
		// The text source's defaults are the label's: a new label looks like a new text.
		const char *textType = textTypeId();
		obs_data_t *textDefaults = textType ? obs_get_source_defaults(textType) : nullptr;
		if (!textDefaults)
			return;
		for (obs_data_item_t *item = obs_data_first(textDefaults); item; obs_data_item_next(&item)) {
			const char *key = obs_data_item_get_name(item);
			switch (obs_data_item_gettype(item)) {
			case OBS_DATA_STRING:
				obs_data_set_default_string(settings, key, obs_data_item_get_default_string(item));
				break;
			case OBS_DATA_NUMBER:
				if (obs_data_item_numtype(item) == OBS_DATA_NUM_DOUBLE)
					obs_data_set_default_double(settings, key,
								    obs_data_item_get_default_double(item));
				else
					obs_data_set_default_int(settings, key, obs_data_item_get_default_int(item));
				break;
			case OBS_DATA_BOOLEAN:
				obs_data_set_default_bool(settings, key, obs_data_item_get_default_bool(item));
				break;
			case OBS_DATA_OBJECT: {
				obs_data_t *object = obs_data_item_get_default_obj(item);
				obs_data_set_default_obj(settings, key, object);
				obs_data_release(object);
				break;
			}
			default:
				break;
			}
		}
		obs_data_release(textDefaults);
	}

	static obs_properties_t *properties(void *data)
	{
		obs_properties_t *props = obs_properties_create();
		obs_property_t *show = obs_properties_add_list(props, SHOW, "Co pokazać", OBS_COMBO_TYPE_LIST,
							       OBS_COMBO_FORMAT_STRING);
		for (const auto &choice : SHOW_CHOICES)
			obs_property_list_add_string(show, choice.title, choice.value);
		obs_properties_add_text(props, PREFIX, "Tekst przed", OBS_TEXT_DEFAULT);
		obs_properties_add_text(props, SUFFIX, "Tekst po", OBS_TEXT_DEFAULT);
		obs_properties_add_text(props, NOTHING_YET, "Gdy jeszcze nic nie ma", OBS_TEXT_DEFAULT);
		obs_properties_add_bool(props, WITH_MESSAGE, "Pokaż wiadomość donatora");
		// The look is the text source's own: its properties, less its ways to the text.
		auto *label = static_cast<LabelSource *>(data);
		const char *textType = textTypeId();
		obs_properties_t *look = label && label->text ? obs_source_properties(label->text)
					 : textType           ? obs_get_source_properties(textType)
							      : nullptr;
		if (look) {
			for (const char *own : TEXT_SOURCE_OWN_TEXT)
				obs_properties_remove_by_name(look, own);
			obs_properties_add_group(props, "look", "Wygląd tekstu", OBS_GROUP_NORMAL, look);
		}
		return props;
	}

	static void render(void *data, gs_effect_t *)
	{
		auto *label = static_cast<LabelSource *>(data);
		if (label->text)
			obs_source_video_render(label->text);
	}

	static uint32_t width(void *data)
	{
		auto *label = static_cast<LabelSource *>(data);
		return label->text ? obs_source_get_width(label->text) : 0;
	}

	static uint32_t height(void *data)
	{
		auto *label = static_cast<LabelSource *>(data);
		return label->text ? obs_source_get_height(label->text) : 0;
	}

	// The text source is shown and active with its label.
	static void enumActive(void *data, obs_source_enum_proc_t enumCallback, void *param)
	{
		auto *label = static_cast<LabelSource *>(data);
		if (label->text)
			enumCallback(label->self, label->text, param);
	}
};

void LabelSources::registerType()
{
	// Source types live in libobs's core; a host that loads the module without one has no scenes.
	if (!obs_initialized())
		return;
	obs_source_info info = {};
	info.id = TYPE_ID;
	info.type = OBS_SOURCE_TYPE_INPUT;
	info.output_flags = OBS_SOURCE_VIDEO | OBS_SOURCE_CUSTOM_DRAW;
	info.icon_type = OBS_ICON_TYPE_TEXT;
	info.type_data = this;
	info.get_name = LabelSource::name;
	info.create = LabelSource::create;
	info.destroy = LabelSource::destroy;
	info.update = LabelSource::update;
	info.get_defaults = LabelSource::defaults;
	info.get_properties = LabelSource::properties;
	info.video_render = LabelSource::render;
	info.get_width = LabelSource::width;
	info.get_height = LabelSource::height;
	info.enum_active_sources = LabelSource::enumActive;
	obs_register_source(&info);
}

void LabelSources::publish(const LabelFacts &facts)
{
	std::lock_guard<std::mutex> lock(m_mutex);
	m_facts = facts;
	for (LabelSource *label : m_labels)
		label->show(m_facts);
}

void LabelSources::add(LabelSource *label)
{
	std::lock_guard<std::mutex> lock(m_mutex);
	m_labels.push_back(label);
}

void LabelSources::remove(LabelSource *label)
{
	std::lock_guard<std::mutex> lock(m_mutex);
	m_labels.erase(std::remove(m_labels.begin(), m_labels.end(), label), m_labels.end());
}

void LabelSources::settingsChanged(LabelSource *label, const LabelSettings &settings, obs_data_t *textSettings)
{
	std::lock_guard<std::mutex> lock(m_mutex);
	label->settings = settings;
	label->show(m_facts, textSettings);
}
