#pragma once
// The whole public interface of the library.

#include "DerivedSources/CoreMLGenerated/version0328/version0328.hpp"
#include "Tarnwick/agents/Agent.hpp"
#include "Tarnwick/agents/UserAgent.hpp"
#include "Tarnwick/agents/ZenfoldAgent.hpp"
#include "Tarnwick/play/Game.hpp"
#include "Tarnwick/play/GameSession.hpp"
#include "Tarnwick/play/Precision.hpp"
#include "Tarnwick/rules/Color.hpp"
#include "Tarnwick/rules/Config.hpp"
#include "Tarnwick/rules/Errors.hpp"
#include "Tarnwick/rules/GameState.hpp"
#include "Tarnwick/search/Edge.hpp"
#include "Tarnwick/search/MCTS.hpp"
#include "Tarnwick/search/Node.hpp"
#include "Tarnwick/search/Random.hpp"
#include "Tarnwick/search/Stats.hpp"
