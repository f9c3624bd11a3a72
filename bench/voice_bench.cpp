// Voice-path benchmark. Starts the server (build/plserver) in a temporary directory on a free
// port pair, or uses a given one, together with the bare reflector, puts the same voice load on
// both in turn and reports delivery, latency, CPU per copy and memory as ratios to the
// reflector. Writes bench-results/voice_bench.json and voice_bench.svg.
//
//   voice_bench [--standard] [--ramp] [--big] [--all]
//               [--clients N] [--rooms R] [--speakers K] [--rate HZ] [--payload BYTES]
//               [--seconds S] [--rounds N] [--step-seconds S] [--ramp-factor F] [--out DIR]
//               [--server PATH] [--reflector PATH] [--target HOST:PORT [--pid PID]] [--no-baseline]
//               [--web-streams N] [--ipv6]
//
// HOST is a dotted IPv4 address, localhost or an IPv6 literal in brackets ("[::1]:8767"). --ipv6
// has the clients of a server the benchmark starts come over ::1 instead of 127.0.0.1.
//
// --web-streams N turns the server's web view on and holds N of its event streams open for the
// whole run (a started server only), so the voice path is measured with them beside it.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <thread>

#include "bench_posix.h"
#include "bench_report.h"
#include "platform/process.h"
#include "voice_load.h"

namespace bench {
namespace {

struct Options {
  bool standard = false, ramp = false, big = false;
  LoadSpec load;
  double step_seconds = 5;
  double ramp_factor = 1.5;
  int ramp_steps = 16;
  int rounds = 10;
  std::string out = "bench-results";
  std::string server_path, reflector_path;
  std::string target_host;
  uint16_t target_port = 0;
  int target_pid = -1;
  bool baseline = true;
  int web_streams = 0;
  bool ipv6 = false;
};

[[noreturn]] void Usage(const char* problem) {
  std::fprintf(stderr, "voice_bench: %s\nsee the head of bench/voice_bench.cpp for the options\n",
               problem);
  std::exit(2);
}

Options ParseOptions(int argc, char** argv) {
  Options options;
  const std::filesystem::path self = std::filesystem::path(plat::ProgramFilePath()).parent_path();
  options.server_path = (self.parent_path() / "plserver").string();
  options.reflector_path = (self / "reflector").string();
  for (int i = 1; i < argc; ++i) {
    const std::string word = argv[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= argc) Usage(("missing value for " + word).c_str());
      return argv[++i];
    };
    if (word == "--standard")
      options.standard = true;
    else if (word == "--ramp")
      options.ramp = true;
    else if (word == "--big")
      options.big = true;
    else if (word == "--all")
      options.standard = options.ramp = options.big = true;
    else if (word == "--clients")
      options.load.clients = std::stoi(value());
    else if (word == "--rooms")
      options.load.rooms = std::stoi(value());
    else if (word == "--speakers")
      options.load.speakers = std::stoi(value());
    else if (word == "--rate")
      options.load.rate = std::stod(value());
    else if (word == "--payload")
      options.load.payload = std::stoul(value());
    else if (word == "--seconds")
      options.load.seconds = std::stod(value());
    else if (word == "--step-seconds")
      options.step_seconds = std::stod(value());
    else if (word == "--ramp-factor")
      options.ramp_factor = std::stod(value());
    else if (word == "--ramp-steps")
      options.ramp_steps = std::stoi(value());
    else if (word == "--rounds")
      options.rounds = std::max(1, std::stoi(value()));
    else if (word == "--out")
      options.out = value();
    else if (word == "--server")
      options.server_path = value();
    else if (word == "--reflector")
      options.reflector_path = value();
    else if (word == "--pid")
      options.target_pid = std::stoi(value());
    else if (word == "--no-baseline")
      options.baseline = false;
    else if (word == "--ipv6")
      options.ipv6 = true;
    else if (word == "--web-streams")
      options.web_streams = std::stoi(value());
    else if (word == "--target") {
      std::string target = value();
      size_t colon = target.rfind(':');
      if (colon == std::string::npos) Usage("--target wants HOST:PORT");
      options.target_host = target.substr(0, colon);
      // "[::1]:8767": an IPv6 literal in brackets.
      if (options.target_host.size() > 2 && options.target_host.front() == '[' &&
          options.target_host.back() == ']')
        options.target_host = options.target_host.substr(1, options.target_host.size() - 2);
      options.target_port = static_cast<uint16_t>(std::stoi(target.substr(colon + 1)));
    } else {
      Usage(("unknown option " + word).c_str());
    }
  }
  if (!options.standard && !options.ramp && !options.big) options.standard = true;
  const LoadSpec& l = options.load;
  if (l.clients < 2 || l.clients > 255 || l.rooms < 1 || l.rooms > 255 || l.speakers < 1 ||
      l.speakers > l.clients || l.rate <= 0 || l.seconds <= 0 || l.payload > 4000) {
    Usage("load out of range");
  }
  if (options.web_streams < 0 || options.web_streams > 1024) Usage("--web-streams is 0..1024");
  if (options.web_streams > 0 && !options.target_host.empty())
    Usage("--web-streams needs a server the benchmark starts");
  return options;
}

uint16_t RandomPort() {
  static std::mt19937 random(std::random_device{}());
  return static_cast<uint16_t>(std::uniform_int_distribution<int>(20000, 60000)(random));
}

// A started server or reflector process with its temporary directory.
struct Process {
  std::unique_ptr<WebStreams> web_streams;  // closed before the process stops
  std::unique_ptr<ChildProcess> child;
  std::string directory;
  uint16_t port = 0;  // TCP port of the server; UDP port of the reflector
  ~Process() {
    web_streams.reset();
    if (child) child->Stop();
    if (!directory.empty()) RemoveDirectory(directory);
  }
};

std::string ServerIni(uint16_t port, int rooms, int web_streams) {
  std::string ini =
      "[Version]\nServerVersion=v1.2.0\n[General]\nMaxClients=255\n[Networking]\nTCPPort=" +
      std::to_string(port) +
      "\n[Ping]\nIdleTimeBeforePing=2000000000\n[WebStatus]\nActive=0\n"
      // The benchmark measures the relay, not the abuse limits: its ramp sends far past the
      // voice limits, and all its clients come from one address.
      "[Security]\nMaxVoicePacketsPerSecond=0\nMaxVoiceBytesPerSecond=0\nMaxPendingPerAddress=0\n"
      "MaxLoginsPerAddress=0\nMaxBroadcastFramesPerAddress=0\n"
      "[Channels]\n";
  for (int r = 0; r < rooms; ++r) ini += std::to_string(r) + "=Room" + std::to_string(r + 1) + "\n";
  if (web_streams > 0) {
    const std::string streams = std::to_string(web_streams);
    ini += "[Web]\nListen=127.0.0.1:0\nMaxStreams=" + streams +
           "\nMaxStreamsPerAddress=" + streams + "\n";
  }
  return ini;
}

bool ServerAnswers(uint16_t port) {
  return plclient::ProtocolClient::Connect("127.0.0.1", port, {}, nullptr) != nullptr;
}

std::unique_ptr<Process> StartServer(const Options& options, int rooms) {
  auto process = std::make_unique<Process>();
  process->directory = MakeTemporaryDirectory("plbench-");
  for (int attempt = 0; attempt < 20; ++attempt) {
    uint16_t port = RandomPort();
    if (!PortPairFree(port)) continue;
    const std::string ini = process->directory + "/plserver.ini";
    std::ofstream(ini, std::ios::trunc) << ServerIni(port, rooms, options.web_streams);
    // The server takes its INI path relative to its own directory.
    const std::string relative_ini =
        std::filesystem::relative(ini, std::filesystem::path(options.server_path).parent_path())
            .string();
    process->child = ChildProcess::Spawn(
        options.server_path,
        {"-INI=" + relative_ini, "-LOG=" + process->directory + "/plserver.log"},
        process->directory, process->directory + "/output.txt");
    if (!process->child) break;
    for (int waited = 0; waited < 3000 && process->child->Running(); waited += 20) {
      if (ServerAnswers(port)) {
        process->port = port;
        return process;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    process->child->Stop();
  }
  std::fprintf(stderr, "voice_bench: could not start %s\n", options.server_path.c_str());
  return nullptr;
}

// The web view's port, from the server's "web listen=" event line; 0 when it does not come.
uint16_t WebViewPort(const Process& process) {
  static const std::string kLine = " info web listen=127.0.0.1:";
  for (int waited = 0; waited < 3000; waited += 20) {
    std::ifstream output(process.directory + "/output.txt");
    for (std::string line; std::getline(output, line);) {
      const size_t at = line.find(kLine);
      if (at != std::string::npos)
        return static_cast<uint16_t>(std::stoi(line.substr(at + kLine.size())));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return 0;
}

// Opens the web view's event streams beside the started server; false when they are not all
// served.
bool OpenWebStreams(Process& process, int count) {
  const uint16_t port = WebViewPort(process);
  std::string error = "no web view";
  if (port != 0) process.web_streams = WebStreams::Open(port, count, &error);
  if (!process.web_streams) {
    std::fprintf(stderr, "voice_bench: %s\n", error.c_str());
    return false;
  }
  std::printf("%d web view event streams open on port %u\n", count, port);
  return true;
}

std::unique_ptr<Process> StartReflector(const Options& options) {
  auto process = std::make_unique<Process>();
  process->directory = MakeTemporaryDirectory("plreflector-");
  for (int attempt = 0; attempt < 20; ++attempt) {
    uint16_t port = RandomPort();
    if (!PortPairFree(port - 1)) continue;
    process->child = ChildProcess::Spawn(options.reflector_path, {std::to_string(port)},
                                         process->directory, process->directory + "/output.txt");
    if (!process->child) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    if (process->child->Running()) {
      process->port = port;
      return process;
    }
  }
  std::fprintf(stderr, "voice_bench: could not start %s\n", options.reflector_path.c_str());
  return nullptr;
}

// The server and the reflector, each with its members logged in and placed.
struct Setup {
  std::unique_ptr<Process> server_process, reflector_process;
  Target server, baseline;
  bool has_baseline = false;
  int baseline_nice = 0;
};

std::unique_ptr<Setup> Prepare(const Options& options, const LoadSpec& load) {
  auto setup = std::make_unique<Setup>();
  setup->server.name = "server";
  std::string host = options.target_host, error;
  uint16_t port = options.target_port;
  if (host.empty()) {
    setup->server_process = StartServer(options, load.rooms);
    if (!setup->server_process) return nullptr;
    host = options.ipv6 ? "::1" : "127.0.0.1";
    port = setup->server_process->port;
    setup->server.pid = setup->server_process->child->pid();
    std::fprintf(stderr, "server pid %d, TCP port %u\n", setup->server.pid, port);
    if (options.web_streams > 0 && !OpenWebStreams(*setup->server_process, options.web_streams))
      return nullptr;
  } else {
    setup->server.pid = options.target_pid;
  }
  auto address = plat::ParseIpAddress(host == "localhost" ? "127.0.0.1" : host);
  if (!address) Usage("--target host must be a dotted IPv4 address or an IPv6 literal");
  setup->server.udp = {*address, static_cast<uint16_t>(port + 1)};
  if (!JoinServer(setup->server, host, port, load.clients, load.rooms, &error)) {
    std::fprintf(stderr, "voice_bench: server set-up failed: %s\n", error.c_str());
    return nullptr;
  }
  if (setup->server.pid > 0)
    setup->server.rss_after_login_kb = ProcessRssKb(setup->server.pid).value_or(0);
  if (options.baseline) {
    setup->reflector_process = StartReflector(options);
    if (!setup->reflector_process) return nullptr;
    setup->baseline.name = "baseline";
    setup->baseline.pid = setup->reflector_process->child->pid();
    std::fprintf(stderr, "reflector pid %d, UDP port %u\n", setup->baseline.pid,
                 setup->reflector_process->port);
    setup->baseline.udp = plat::Endpoint::Ipv4(0x7F000001, setup->reflector_process->port);
    // The server raises its own priority; the baseline runs at the same one, since the
    // scheduling class changes what each copy costs (a high-priority sender pays for waking
    // low-priority receivers elsewhere).
    if (setup->server.pid > 0) {
      if (std::optional<int> nice = ProcessNice(setup->server.pid)) {
        SetProcessNice(setup->baseline.pid, *nice);
        setup->baseline_nice = *nice;
        std::printf("baseline runs at the server's nice value %d\n", *nice);
      }
    }
    if (!JoinReflector(setup->baseline, load.clients, load.rooms, &error)) {
      std::fprintf(stderr, "voice_bench: reflector set-up failed: %s\n", error.c_str());
      return nullptr;
    }
    setup->baseline.rss_after_login_kb = ProcessRssKb(setup->baseline.pid).value_or(0);
    setup->has_baseline = true;
  }
  return setup;
}

// The load's time is split into rounds, server and baseline taking turns, so that other work on
// the machine weighs on both alike.
Comparison Compare(Setup& setup, const std::string& title, const LoadSpec& load, int rounds) {
  LoadSpec round = load;
  round.seconds = load.seconds / rounds;
  round.warmup_seconds = std::min(load.warmup_seconds, 0.5);
  Comparison comparison{title, {}, std::nullopt};
  RunResult baseline;
  for (int r = 0; r < rounds; ++r) {
    Accumulate(comparison.server, RunLoad(setup.server, round));
    if (setup.has_baseline) Accumulate(baseline, RunLoad(setup.baseline, round));
  }
  if (setup.has_baseline) comparison.baseline = std::move(baseline);
  return comparison;
}

double CopiesPerDatagram(const LoadSpec& load) {
  // Speakers 0..K-1 sit in rooms i % R; each datagram goes to the rest of its room.
  double copies = 0;
  for (int s = 0; s < load.speakers; ++s) {
    int members = 0;
    for (int i = 0; i < load.clients; ++i) members += (i % load.rooms == s % load.rooms);
    copies += members - 1;
  }
  return copies / load.speakers;
}

// Raises the rate step by step, server and baseline alternating, until each fails twice in a row
// at a step (loss above 0.5 % or p99 above 5 ms).
Ramp RunRamp(Setup& setup, const Options& options, const LoadSpec& base) {
  Ramp ramp;
  ramp.base = base;
  ramp.base.seconds = options.step_seconds;
  bool server_going = true, baseline_going = setup.has_baseline;
  double rate = base.rate;
  for (int step = 0; step < options.ramp_steps && (server_going || baseline_going); ++step) {
    LoadSpec load = ramp.base;
    load.rate = rate;
    load.warmup_seconds = 0.5;
    RampStep result;
    result.rate = rate;
    result.offered_copies = rate * load.speakers * CopiesPerDatagram(load);
    auto attempt = [&](Target& target, bool& going, double& highest, double& highest_rate) {
      if (!going) return std::optional<RunResult>();
      RunResult run = RunLoad(target, load);
      if (!run.Held()) run = RunLoad(target, load);  // one retry: a single hiccup is not the limit
      if (run.Held()) {
        highest = result.offered_copies;
        highest_rate = rate;
      } else {
        going = false;
      }
      return std::optional<RunResult>(std::move(run));
    };
    result.server =
        attempt(setup.server, server_going, ramp.server_highest, ramp.server_highest_rate);
    result.baseline =
        attempt(setup.baseline, baseline_going, ramp.baseline_highest, ramp.baseline_highest_rate);
    std::fprintf(stderr, "ramp step rate %.0f/s done\n", rate);
    ramp.steps.push_back(std::move(result));
    rate *= options.ramp_factor;
  }
  return ramp;
}

int Main(int argc, char** argv) {
  RaiseFileLimit();
  const Options options = ParseOptions(argc, argv);
  std::vector<Comparison> comparisons;
  std::optional<Ramp> ramp;

  if (options.standard || options.ramp) {
    std::unique_ptr<Setup> setup = Prepare(options, options.load);
    if (!setup) return 1;
    if (options.standard) {
      comparisons.push_back(Compare(*setup, "standard", options.load, options.rounds));
      PrintComparison(stdout, comparisons.back());
      std::fflush(stdout);
    }
    if (options.ramp) {
      ramp = RunRamp(*setup, options, options.load);
      PrintRamp(stdout, *ramp);
      std::fflush(stdout);
    }
    LeaveAll(setup->server);
  }
  if (options.big) {
    LoadSpec big = options.load;
    big.clients = 255;
    big.rooms = 1;
    big.speakers = 4;
    std::unique_ptr<Setup> setup = Prepare(options, big);
    if (!setup) return 1;
    comparisons.push_back(Compare(*setup, "255 clients in one room", big, options.rounds));
    PrintComparison(stdout, comparisons.back());
    LeaveAll(setup->server);
  }

  std::filesystem::create_directories(options.out);
  const std::string json = options.out + "/voice_bench.json",
                    svg = options.out + "/voice_bench.svg";
  std::ofstream(json, std::ios::trunc) << ToJson(comparisons, ramp);
  std::ofstream(svg, std::ios::trunc) << ToSvg(comparisons, ramp);
  std::printf("\nwrote %s and %s\n", json.c_str(), svg.c_str());
  return 0;
}

}  // namespace
}  // namespace bench

int main(int argc, char** argv) {
  return bench::Main(argc, argv);
}
