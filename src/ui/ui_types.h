// The C++ types the views use, made known to the QML engine, and the image providers.
#pragma once

class QQmlEngine;

namespace UiTypes {

// Once per process, before the first view loads.
void registerTypes();
// The "icon" image provider on an engine.
void installImageProviders(QQmlEngine *engine);

} // namespace UiTypes
