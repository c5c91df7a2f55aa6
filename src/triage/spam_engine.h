// The engine interface now lives with the platform that makes engines; this
// name stays until the engine's own headers include the new one.
#pragma once

#include "platform/spam_engine.h"
