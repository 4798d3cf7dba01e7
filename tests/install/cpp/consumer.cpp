// An installed Tarnwick from C++: the model read into memory as an app reads its asset, handed
// to a GameSession, and a few moves played.
#include <fstream>
#include <iostream>
#include <sstream>

#include "Platform/MLModel.hpp"
#include "Tarnwick/Tarnwick.hpp"

static std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

int main() {
    const std::string folder = TARNWICK_MODEL_DIR;
    auto network = tarnwick::platform::MLModel::loadFromMemory(slurp(folder + "/model.json"),
                                                               slurp(folder + "/weights.bin"));
    tarnwick::GameSession session;
    session.setModel(std::make_shared<tarnwick::version0328>(network));
    session.setMCTS_SIMS(20);
    for (int turn = 0; turn < 3; ++turn) {
        if (!session.userPlay(3) || !session.move()) return 1;
        const auto reply = session.move();
        if (!reply) return 1;
        std::cout << "bot answered in column " << reply->action % 7 + 1 << "\n";
    }
    std::cout << "c++ consumer: played " << session.turnCount << " moves\n";
    return session.turnCount == 6 ? 0 : 1;
}
