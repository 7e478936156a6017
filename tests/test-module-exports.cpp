#include "log-capture.h"
#include "test-main.h"

#include <obs-module.h>

#include <dlfcn.h>

// Loads the built module the way OBS does (by file, looking the exports up by name).
class TestModuleExports : public QObject {
	Q_OBJECT

	void *m_module = nullptr;

	template<typename F> F lookup(const char *name) { return reinterpret_cast<F>(dlsym(m_module, name)); }

private slots:
	void initTestCase()
	{
		m_module = dlopen(TIPLARK_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
		QVERIFY2(m_module, dlerror());
	}

	void cleanupTestCase()
	{
		if (m_module)
			dlclose(m_module);
	}

	void exportsAreThere()
	{
		for (const char *name :
		     {"obs_module_set_pointer", "obs_module_ver", "obs_module_set_locale", "obs_module_free_locale",
		      "obs_module_get_string", "obs_module_load", "obs_module_post_load", "obs_module_unload"})
			QVERIFY2(dlsym(m_module, name), name);
		// Internal helpers stay hidden.
		QVERIFY(!dlsym(m_module, "obs_current_module"));
		QVERIFY(!dlsym(m_module, "obs_module_text"));
	}

	void versionIsTheLibobsHeadersOne()
	{
		auto ver = lookup<uint32_t (*)()>("obs_module_ver");
		QCOMPARE(ver(), uint32_t(LIBOBS_API_VER));
		QCOMPARE(ver() >> 24, uint32_t(LIBOBS_API_MAJOR_VER));
		QCOMPARE((ver() >> 16) & 0xff, uint32_t(LIBOBS_API_MINOR_VER));
		QCOMPARE(ver() & 0xffff, uint32_t(LIBOBS_API_PATCH_VER));
	}

	void loadAndUnloadLog()
	{
		LogCapture log;
		auto load = lookup<bool (*)()>("obs_module_load");
		auto unload = lookup<void (*)()>("obs_module_unload");
		QVERIFY(load());
		QVERIFY(log.contains(LOG_INFO, "[tiplark-obs-plugin] plugin loaded successfully (version 1.0.0)"));
		unload();
		QVERIFY(log.contains(LOG_INFO, "[tiplark-obs-plugin] plugin unloaded"));
	}

	void noLocaleTableMeansNoStrings()
	{
		auto getString = lookup<bool (*)(const char *, const char **)>("obs_module_get_string");
		auto freeLocale = lookup<void (*)()>("obs_module_free_locale");
		const char *out = "unchanged";
		QVERIFY(!getString("Tiplark", &out));
		QCOMPARE(out, "unchanged");
		freeLocale();
		freeLocale();
		QVERIFY(!getString("Tiplark", &out));
	}
};

TIPLARK_TEST_MAIN(TestModuleExports)
#include "test-module-exports.moc"
