// The screens other screens open by name.
#include "ui/screen_factory.h"

namespace Browse {
void registerScreens();  // browse_screens.cpp
}

void ScreenFactory::registerBuiltInScreens()
{
    Browse::registerScreens();
}
