// `tarnwick evaluate`: the network's raw outputs for positions read from standard input, for
// comparing the interpreter with the training side.

#include <iomanip>
#include <istream>
#include <ostream>
#include <string>

#include "tools/tarnwick/Commands.hpp"
#include "Tarnwick/rules/Notation.hpp"

namespace tarnwick::cli {

int evaluate(const BotOptions& options, std::istream& in, std::ostream& out, std::ostream& err) {
    const auto model = loadModel(options.model, options.int8);
    out << std::setprecision(9);
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        // Lines are read as `play` reads them: surrounding blanks and a CR-LF ending are dropped.
        line.erase(0, line.find_first_not_of(" \t\r"));
        line.erase(line.find_last_not_of(" \t\r") + 1);
        const auto parsed = parseMoves(line);
        if (!parsed.state) {
            err << "tarnwick evaluate: line " << number << ": " << parsed.error << "\n";
            return 2;
        }
        const auto output = model->prediction(parsed.state->binary());
        out << (*output->output1())[0];
        const auto scores = output->output2();
        for (std::int64_t i = 0; i < scores->count(); ++i) out << ' ' << (*scores)[i];
        out << '\n';
    }
    return 0;
}

} // namespace tarnwick::cli
