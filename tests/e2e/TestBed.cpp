#include "TestBed.h"

#include <sys/stat.h>

#include <filesystem>
#include <sstream>
#include <stdexcept>

#include "McsImage.h"

namespace QelTest {

std::string UtilityPath() { return QEL_FW_UPGRADE_PATH; }
std::string SimPath() { return QEL_SIM_PATH; }

TestBed::TestBed(int links)
{
    if (!ProcessIsolated()) throw std::runtime_error(IsolationError());
    for (const char* name : {"home", "data", "tmp"}) {
        if (mkdir(Path(name).c_str(), 0700) != 0) throw std::runtime_error("cannot create " + Path(name));
    }
    host_ = std::make_unique<NetNs>("host");
    for (int k = 0; k < links; ++k) {
        devices_.push_back(std::make_unique<NetNs>("dev" + std::to_string(k)));
        const std::string subnet = "198.51.100.";
        AddVeth(*host_, "h" + std::to_string(k), subnet + std::to_string(k * 64 + 1) + "/26", *devices_.back(),
                "eth0", DeviceAddress(k) + "/26");
    }
}

// Simulated systems go before their namespaces; the folder goes last.
TestBed::~TestBed()
{
    sims_.clear();
    devices_.clear();
    host_.reset();
}

std::string TestBed::DeviceAddress(int link) const { return "198.51.100." + std::to_string(link * 64 + 2); }

BackgroundProcess& TestBed::StartSim(int link, const std::vector<std::string>& options)
{
    std::vector<std::string> argv{SimPath(), "--net", DeviceAddress(link)};
    argv.insert(argv.end(), options.begin(), options.end());
    sims_.push_back(std::make_unique<BackgroundProcess>(*devices_.at(static_cast<std::size_t>(link)), argv));
    BackgroundProcess& sim = *sims_.back();
    if (!sim.WaitForPort("tcp", 28244) || !sim.WaitForPort("udp", 28242)) {
        throw std::runtime_error("qel_sim did not start: " + sim.Output());
    }
    return sim;
}

std::string TestBed::Path(const std::string& name) const { return folder_.Path() + "/" + name; }

std::vector<std::string> TestBed::LogFiles() const
{
    std::vector<std::string> files;
    for (const auto& entry : std::filesystem::directory_iterator(TempFolder())) {
        const std::string name = entry.path().filename().string();
        if (name.rfind("qellog_", 0) == 0) files.push_back(entry.path().string());
    }
    return files;
}

std::string TestBed::WriteImage(const std::string& name, const std::vector<std::uint8_t>& image)
{
    const std::string text = WriteMcs(image);
    const std::string path = Path(name);
    WriteFileBytes(path, std::vector<std::uint8_t>(text.begin(), text.end()));
    return path;
}

std::map<std::string, std::string> TestBed::Environment() const
{
    // TZ fixes the zone name that the firmware version lines end with.
    return {{"HOME", Path("home")}, {"XDG_DATA_HOME", DataHome()}, {"TMPDIR", TempFolder()}, {"TZ", "UTC"}};
}

std::unique_ptr<LiveProcess> TestBed::Start(const std::vector<std::string>& args)
{
    std::vector<std::string> argv{UtilityPath()};
    argv.insert(argv.end(), args.begin(), args.end());
    return std::make_unique<LiveProcess>(*host_, argv, Environment());
}

ProcessResult TestBed::Run(const std::vector<std::string>& args, const std::string& input,
                           std::chrono::milliseconds bound)
{
    const std::unique_ptr<LiveProcess> utility = Start(args);
    utility->Type(input);
    utility->CloseInput();
    return utility->Wait(bound);
}

std::vector<std::string> Lines(const std::string& output)
{
    std::vector<std::string> lines;
    std::istringstream in(output);
    std::string line;
    while (std::getline(in, line)) lines.push_back(line);
    return lines;
}

long FindLine(const std::vector<std::string>& lines, const std::string& line, long from)
{
    for (long i = from < 0 ? 0 : from; i < static_cast<long>(lines.size()); ++i) {
        if (lines[static_cast<std::size_t>(i)] == line) return i;
    }
    return -1;
}

std::size_t Count(const std::string& output, const std::string& text)
{
    std::size_t count = 0;
    for (std::size_t at = output.find(text); at != std::string::npos; at = output.find(text, at + text.size())) ++count;
    return count;
}

}  // namespace QelTest
