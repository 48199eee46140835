#pragma once
// The navigation items and the internal items switch, and the map from a clicked item
// to its form id.

#include <optional>

class CGfxOutBarCtrl;

// Off at start; --internal turns it on before the main frame fills the item bar.
int InternalItems();
void SetInternalItems(int on);

// Two folders, "Real-time data" and "Setting", with the internal items when the switch is on.
void FillNavigation(CGfxOutBarCtrl& bar);
// The form of an item; nothing for positions and folders outside the table.
std::optional<int> FormIdOf(int folder, int item);
