#pragma once

#include <QSettings>

#include <memory>

// The plug-in's own settings store (dock placement, splitter). Written when the object is released.
inline std::unique_ptr<QSettings> openTiplarkSettings()
{
	return std::make_unique<QSettings>(QStringLiteral("Tiplark"), QStringLiteral("OBSPlugin"));
}
