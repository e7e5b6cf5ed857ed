#include "match/matchhost.h"

MatchHost* matchHost = nullptr;
