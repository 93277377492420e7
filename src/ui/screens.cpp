// The screens other screens open by name.
#include "ui/screen_factory.h"

void ScreenFactory::registerBuiltInScreens()
{
}
