// Accessibility for the hand-painted controls: a label reads as the static
// text a QLabel offers, a lamp as an indicator that is on or off.
#pragma once

// Installed once, by the first label or lamp made.
void installAccessibleFactory();
