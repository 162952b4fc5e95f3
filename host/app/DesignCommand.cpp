#include <cmath>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "engine/Derivation.h"
#include "engine/GainDesign.h"
#include "engine/RegisterComputation.h"
#include "host/app/Commands.h"
#include "host/app/DerivedEdits.h"
#include "host/app/JsonReport.h"
#include "host/app/Suggest.h"

namespace {

using Step = bool (*)(CQel_Setup&);

// One gain of a loop: the user parameter, its two registers with the steps that write them, and
// the step that reads the gain back from the registers.
struct GainRegisters {
    const char* gain;
    const char* shiftRegister;
    const char* mantissaRegister;
    Step writeShift;
    Step writeMantissa;
    Step readBack;
};

struct LoopDesign {
    const char* loop;
    Step design;
    std::vector<GainRegisters> gains;
};

const std::vector<LoopDesign>& LoopDesigns() {
    static const std::vector<LoopDesign> designs = {
        {"current",
         DesignCurrentController,
         {{"Kp_C_scl", "SFTKPI", "KPI", compute::SFTKPI, compute::KPI, derive::Kp_C_scl},
          {"Ki_C_scl", "SFTKII", "KII", compute::SFTKII, compute::KII, derive::Ki_C_scl}}},
        {"speed",
         DesignSpeedController,
         {{"Kp_S_scl", "SFTKPS", "KPS", compute::SFTKPS, compute::KPS, derive::Kp_S_scl},
          {"Ki_S_scl", "SFTKIS", "KIS", compute::SFTKIS, compute::KIS, derive::Ki_S_scl}}},
        {"position",
         DesignPositionController,
         {{"Kp_P_scl", "SFTKPP", "KPP", compute::SFTKPP, compute::KPP, derive::Kp_P_scl},
          {"Ki_P_scl", "SFTKIP", "KIP", compute::SFTKIP, compute::KIP, derive::Ki_P_scl},
          {"Kd_P_scl", "SFTKDP", "KDP", compute::SFTKDP, compute::KDP, derive::Kd_P_scl}}},
    };
    return designs;
}

struct GainOutcome {
    std::string gain;
    double designed = 0.0;
    double mantissa = 0.0;
    double shift = 0.0;
    double held = 0.0;
};

double RelativeDifference(double designed, double held) {
    return designed == 0.0 ? std::fabs(held) : std::fabs(held - designed) / std::fabs(designed);
}

void PrintOutcomes(const char* loop, const std::vector<GainOutcome>& outcomes, bool json) {
    if (json) {
        nlohmann::ordered_json root;
        root["loop"] = loop;
        nlohmann::ordered_json& gains = root["gains"] = nlohmann::ordered_json::object();
        for (const GainOutcome& outcome : outcomes) {
            gains[outcome.gain] = {{"designed", outcome.designed},
                                   {"mantissa", outcome.mantissa},
                                   {"shift", outcome.shift},
                                   {"held", outcome.held}};
        }
        std::printf("%s\n", DumpReport(root, 2).c_str());
        return;
    }
    std::printf("%s controller\n%-10s %-22s %-14s %-6s %-22s %s\n", loop, "GAIN", "DESIGNED",
                "MANTISSA", "SHIFT", "HELD BY REGISTERS", "REL. DIFFERENCE");
    for (const GainOutcome& outcome : outcomes) {
        std::printf("%-10s %-22.15g %-14.10g %-6.0f %-22.15g %.3g\n", outcome.gain.c_str(),
                    outcome.designed, outcome.mantissa, outcome.shift, outcome.held,
                    RelativeDifference(outcome.designed, outcome.held));
    }
}

// Designs the loop's gains, writes their registers and reads the gains back from them; false
// when a gain register could not be computed. The outcome of each gain goes to outcomes, when
// given.
bool DesignLoop(const LoopDesign& design, CQel_Setup& setup, std::vector<GainOutcome>* outcomes) {
    bool complete = true;
    for (const GainRegisters& gain : design.gains) {
        GainOutcome outcome{gain.gain, setup.GetParameterValueInBaseUnit(gain.gain)};
        complete =
            gain.writeShift(setup) && gain.writeMantissa(setup) && gain.readBack(setup) && complete;
        outcome.shift = setup.GetParameterValueInBaseUnit(gain.shiftRegister);
        outcome.mantissa = setup.GetParameterValueInBaseUnit(gain.mantissaRegister);
        outcome.held = setup.GetParameterValueInBaseUnit(gain.gain);
        if (outcomes != nullptr) {
            outcomes->push_back(outcome);
        }
    }
    return complete;
}

}  // namespace

// The gain design of one loop from its bandwidth and damping, then the registers the drive gets
// and the gains those registers really hold (the mantissa keeps 15 bits). A gain or gain register
// given on the command line would be overwritten by the design: it is refused, naming what the
// design starts from.
int RunDesign(CommandContext& context) {
    const std::string& loop = context.invocation.arguments[1];
    const LoopDesign* chosen = nullptr;
    for (const LoopDesign& design : LoopDesigns()) {
        if (loop == design.loop) {
            chosen = &design;
        }
    }
    if (chosen == nullptr) {
        std::fprintf(
            stderr, "brevan: design: unknown loop \"%s\" (current, speed or position)%s\n",
            loop.c_str(),
            DidYouMean(loop, std::vector<std::string>{"current", "speed", "position"}).c_str());
        return kExitUsage;
    }
    const SetupComputation designed = [chosen](CQel_Setup& setup) {
        if (chosen->design(setup)) {
            DesignLoop(*chosen, setup, nullptr);
        }
    };
    if (const int refused = RefuseLostEdits(context, designed); refused != kExitSuccess) {
        return refused;
    }
    CQel_Setup& setup = context.setup;
    if (!chosen->design(setup)) {
        std::fprintf(stderr, "brevan: the %s controller could not be designed\n", chosen->loop);
        return kExitFailure;
    }
    std::vector<GainOutcome> outcomes;
    const bool complete = DesignLoop(*chosen, setup, &outcomes);
    PrintOutcomes(chosen->loop, outcomes, context.invocation.json);
    if (!complete) {
        std::fprintf(stderr, "brevan: some gain registers could not be computed\n");
        return kExitFailure;
    }
    return SaveOutputIfRequested(setup, context.invocation) ? kExitSuccess : kExitFailure;
}
