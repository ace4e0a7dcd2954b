// The console message of a conversion result code.
#pragma once

#include "frame/ImagePluginResult.h"

#include <QString>

/// The message for code, about name (usually empty), followed by the detail text when there is one.
QString imagePluginResultText(int32_t code, const QString& name, QString detail);
