#include "tmp_name_gen.h"

const char TmpNameGen::kAlphabet[64] = {
    '0', '1', '2', '3', '4', '5', '6', '7', '8', '9', 'a', 'b', 'c', 'd', 'e', 'f',
    'g', 'h', 'i', 'j', 'k', 'l', 'm', 'n', 'o', 'p', 'q', 'r', 's', 't', 'u', 'v',
    'w', 'x', 'y', 'z', 'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H', 'I', 'J', 'K', 'L',
    'M', 'N', 'O', 'P', 'Q', 'R', 'S', 'T', 'U', 'V', 'W', 'X', 'Y', 'Z', '-', '_',
};

TmpNameGen& TmpNameGen::getInstance()
{
    static TmpNameGen instance;
    return instance;
}

TmpNameGen::TmpNameGen()
{
    reseed();
}

void TmpNameGen::reseed()
{
    std::random_device device("/dev/urandom");
    reseed(static_cast<uint32_t>(device()));
}

void TmpNameGen::reseed(uint32_t device_value)
{
    std::lock_guard<std::mutex> guard(mutex);
    uint32_t state = device_value % std::minstd_rand::modulus;
    engine.seed(state == 0 ? 1u : state);
}

std::string TmpNameGen::getTmpName()
{
    static std::uniform_int_distribution<int> index(0, 63);
    std::string name;
    name.reserve(kNameLength);
    std::lock_guard<std::mutex> guard(mutex);
    for (int i = 0; i < kNameLength; ++i)
        name.push_back(kAlphabet[index(engine)]);
    return name;
}

std::string TmpNameGen::getTmpPath(const std::string& dir)
{
    return dir + "/" + getTmpName();
}
