#pragma once

// An edit of the command line that the command's own computation overwrites (compute derives the
// user parameters from the registers, registers the registers from the user parameters, design
// the gains from the passband) would be lost without a word: such an edit is refused before
// anything runs, with the parameters the value comes from.

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "host/app/Commands.h"

// What a command computes on the setup before it reports or saves it.
using SetupComputation = std::function<void(CQel_Setup&)>;

// Whether the computation keeps the edit (the index into the command line's edits): it leaves the
// edited parameter as given, or what it computes for the parameter follows the value given (it may
// be that value as the registers hold it). An edit that leaves the value as loaded, or that a later
// edit of the same parameter overrides, is kept.
bool KeepsEdit(const CommandContext& context, std::size_t edit, const SetupComputation& compute);

// The first --set or --set-internal the computation does not keep; nothing when it keeps each.
std::optional<std::size_t> FirstLostEdit(const CommandContext& context,
                                         const SetupComputation& compute);

// The parameters of the edited setup the computation derives the named one from: those a change
// of which changes what it computes for it, in the setup's order.
std::vector<std::string> SourcesOf(const CQel_Setup& setup, const std::string& name,
                                   const SetupComputation& compute);

// "A, B and C".
std::string ListOfNames(const std::vector<std::string>& names);

// Refuses the edit: "brevan: --set NAME=VALUE: " followed by why and what to do; the usage
// status.
int RefuseLostEdit(const SetupEdit& edit, const std::string& why);

// The usual check of a command whose computation derives values afresh: the first edit it loses
// is refused, saying what the named parameter is derived from and, when advice (given the edit's
// index) has more, what else to do. kExitSuccess when every edit counts.
int RefuseLostEdits(const CommandContext& context, const SetupComputation& compute,
                    const std::function<std::string(std::size_t edit)>& advice = {});
