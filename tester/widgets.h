// The few control kinds the tester window is made of, with the behaviour the
// window relies on: labels that only repaint themselves, lamps with a
// settable fill, check values 0/1/2.
#pragma once

#include "tester/faces.h"
#include "tester/label.h"
#include "tester/lamp.h"
