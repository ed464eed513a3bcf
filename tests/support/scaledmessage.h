#pragma once

// A scaled sweep as the station's feed reports it, with known values: the Cyprus sounder heard
// over 2590 km, trace 1 a 1F mode whose layer is known, trace 2 one that says nothing of it.

#include "station/stationfeed.h"

feed::Scaled CyprusSweep(const QDateTime& startUtc = QDateTime(QDate(2026, 12, 7), QTime(19, 4, 20),
                                                               Qt::UTC));
