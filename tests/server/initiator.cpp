#include "tests/server/initiator.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <stdexcept>
#include <thread>

namespace zorvane::vdrive::server::test {

std::uint32_t Be32(const std::uint8_t* at) {
  return static_cast<std::uint32_t>(at[0]) << 24 | static_cast<std::uint32_t>(at[1]) << 16 |
         static_cast<std::uint32_t>(at[2]) << 8 | at[3];
}

void SetBe32(std::uint8_t* at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<std::uint8_t>(value >> (24 - 8 * i));
}

void SetBe24(std::uint8_t* at, std::uint32_t value) {
  for (int i = 0; i < 3; ++i) at[i] = static_cast<std::uint8_t>(value >> (16 - 8 * i));
}

std::map<std::string, std::string> Received::Keys() const {
  std::map<std::string, std::string> keys;
  std::size_t at = 0;
  while (at < data.size()) {
    std::size_t end = at;
    while (end < data.size() && data[end] != 0) ++end;
    const std::string entry(data.begin() + at, data.begin() + end);
    const std::size_t equals = entry.find('=');
    if (equals != std::string::npos) keys[entry.substr(0, equals)] = entry.substr(equals + 1);
    at = end + 1;
  }
  return keys;
}

Initiator::Initiator(std::uint16_t port, int receive_buffer) {
  fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (receive_buffer > 0) {
    setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &receive_buffer, sizeof receive_buffer);
  }
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) Drop();
}

Initiator::~Initiator() {
  Drop();
}

void Initiator::Drop() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
}

void Initiator::SendRaw(const Bytes& bytes) {
  std::size_t sent = 0;
  while (fd_ >= 0 && sent < bytes.size()) {
    const ssize_t n = send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) return;  // the target closed: what follows shows it
    sent += static_cast<std::size_t>(n);
  }
}

void Initiator::SendPdu(const std::uint8_t* header, const Bytes& data, const Bytes& ahs) {
  Bytes bytes(header, header + 48);
  bytes[4] = static_cast<std::uint8_t>(ahs.size() / 4);
  SetBe24(bytes.data() + 5, static_cast<std::uint32_t>(data.size()));
  bytes.insert(bytes.end(), ahs.begin(), ahs.end());
  bytes.insert(bytes.end(), data.begin(), data.end());
  bytes.resize((bytes.size() + 3) & ~std::size_t{3}, 0);
  SendRaw(bytes);
}

namespace {

bool ReadExactly(int fd, std::uint8_t* out, std::size_t length, int timeout_ms) {
  std::size_t got = 0;
  while (got < length) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, timeout_ms) <= 0) return false;
    const ssize_t n = recv(fd, out + got, length - got, 0);
    if (n <= 0) return false;
    got += static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

bool Initiator::Read(Received* pdu, int timeout_ms) {
  if (fd_ < 0 || !ReadExactly(fd_, pdu->header, 48, timeout_ms)) return false;
  const std::size_t length =
      static_cast<std::size_t>(pdu->header[5]) << 16 | pdu->header[6] << 8 | pdu->header[7];
  Bytes rest(pdu->header[4] * 4 + ((length + 3) & ~std::size_t{3}));
  if (!ReadExactly(fd_, rest.data(), rest.size(), timeout_ms)) return false;
  pdu->data.assign(rest.begin() + pdu->header[4] * 4, rest.begin() + pdu->header[4] * 4 + length);
  return true;
}

bool Initiator::ClosedWithin(int timeout_ms, std::vector<Received>* before) {
  for (;;) {
    if (fd_ < 0) return true;
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, timeout_ms) <= 0) return false;
    std::uint8_t byte = 0;
    const ssize_t n = recv(fd_, &byte, 1, MSG_PEEK);
    if (n <= 0) return true;
    Received pdu;
    if (!Read(&pdu, timeout_ms)) return true;
    if (before != nullptr) before->push_back(pdu);
  }
}

void Initiator::SendLogin(std::uint8_t flags, const Keys& keys, std::uint16_t tsih) {
  std::uint8_t h[48] = {};
  h[0] = 0x43;  // login request, immediate
  h[1] = flags;
  h[8] = 0x80;  // ISID: random-number format
  h[11] = 0x12;
  // Each connection open at a time is its own initiator port (I_T nexus), as separate
  // initiators' sessions are.
  h[12] = static_cast<std::uint8_t>(fd_ >> 8);
  h[13] = static_cast<std::uint8_t>(fd_);
  h[14] = static_cast<std::uint8_t>(tsih >> 8);
  h[15] = static_cast<std::uint8_t>(tsih);
  SetBe32(h + 16, 0x10);
  SetBe32(h + 24, cmd_sn);
  SetBe32(h + 28, exp_stat_sn);
  Bytes data;
  for (const auto& [key, value] : keys) {
    data.insert(data.end(), key.begin(), key.end());
    data.push_back('=');
    data.insert(data.end(), value.begin(), value.end());
    data.push_back(0);
  }
  SendPdu(h, data);
}

std::map<std::string, std::string> Initiator::Login(const Keys& operational,
                                                    const std::string& target) {
  std::map<std::string, std::string> merged;
  SendLogin(0x81, {{"InitiatorName", kTestInitiator},
                   {"SessionType", "Normal"},
                   {"TargetName", target},
                   {"AuthMethod", "None"}});
  Received answer;
  if (!Read(&answer) || answer.opcode() != 0x23 || answer.header[36] != 0) return {};
  exp_stat_sn = answer.Field(24) + 1;
  for (const auto& [key, value] : answer.Keys()) merged[key] = value;
  // The usual keys, each unless `operational` gives it.
  Keys keys;
  for (const auto& key : Keys{{"HeaderDigest", "None"},
                              {"DataDigest", "None"},
                              {"MaxRecvDataSegmentLength", "8192"}}) {
    if (std::none_of(operational.begin(), operational.end(),
                     [&](const auto& k) { return k.first == key.first; })) {
      keys.push_back(key);
    }
  }
  keys.insert(keys.end(), operational.begin(), operational.end());
  // As initiators do, offer immediate data unless told otherwise.
  if (std::none_of(keys.begin(), keys.end(),
                   [](const auto& k) { return k.first == "ImmediateData"; })) {
    keys.emplace_back("ImmediateData", "Yes");
  }
  SendLogin(0x87, keys);
  if (!Read(&answer) || answer.opcode() != 0x23 || answer.header[36] != 0 ||
      (answer.flags() & 0x83) != 0x83) {
    return {};
  }
  exp_stat_sn = answer.Field(24) + 1;
  max_cmd_sn = answer.Field(32);
  for (const auto& [key, value] : answer.Keys()) merged[key] = value;
  auto number = [&](const char* key, std::uint32_t fallback) {
    return merged.count(key) ? static_cast<std::uint32_t>(std::stoul(merged[key])) : fallback;
  };
  first_burst = number("FirstBurstLength", 65536);
  max_burst = number("MaxBurstLength", 262144);
  target_max_data = number("MaxRecvDataSegmentLength", 8192);
  if (merged.count("InitialR2T")) initial_r2t = merged["InitialR2T"] == "Yes";
  if (merged.count("ImmediateData")) immediate_data = merged["ImmediateData"] == "Yes";
  // As initiators do after a login, take the unit attention it establishes (power on, or
  // the loss of this initiator's earlier nexus).
  if (Command({0x03, 0, 0, 0, 18, 0}, 18).status != 0) return {};  // REQUEST SENSE
  return merged;
}

bool Initiator::LoginDiscovery() {
  SendLogin(0x87, {{"InitiatorName", kTestInitiator}, {"SessionType", "Discovery"}});
  Received answer;
  if (!Read(&answer) || answer.opcode() != 0x23 || answer.header[36] != 0) return false;
  exp_stat_sn = answer.Field(24) + 1;
  return true;
}

void Initiator::CommandHeader(std::uint8_t* h, const Bytes& cdb, std::uint8_t flags,
                              std::uint32_t expected, std::uint32_t tag) {
  std::memset(h, 0, 48);
  h[0] = 0x01;
  h[1] = flags;
  SetBe32(h + 16, tag);
  SetBe32(h + 20, expected);
  SetBe32(h + 24, cmd_sn++);
  SetBe32(h + 28, exp_stat_sn);
  std::copy(cdb.begin(), cdb.begin() + static_cast<long>(std::min<std::size_t>(cdb.size(), 16)),
            h + 32);
}

void Initiator::DataOutHeader(std::uint8_t* h, std::uint32_t tag, std::uint32_t ttt,
                              std::uint32_t data_sn, std::uint32_t offset, bool final) {
  std::memset(h, 0, 48);
  h[0] = 0x05;
  h[1] = final ? 0x80 : 0;
  SetBe32(h + 16, tag);
  SetBe32(h + 20, ttt);
  SetBe32(h + 28, exp_stat_sn);
  SetBe32(h + 36, data_sn);
  SetBe32(h + 40, offset);
}

Outcome Initiator::Command(const Bytes& cdb, std::uint32_t expected_in, const Bytes& data_out,
                           std::uint64_t lun) {
  Outcome outcome;
  const std::uint32_t tag = next_tag++;
  const bool write = !data_out.empty();
  const auto total = static_cast<std::uint32_t>(data_out.size());
  const std::uint32_t expected = write ? total : expected_in;
  const std::uint32_t immediate =
      write && immediate_data ? std::min({first_burst, target_max_data, total}) : 0;
  const std::uint32_t unsolicited =
      write && !initial_r2t ? std::min(first_burst, total) : immediate;
  std::uint8_t flags = unsolicited <= immediate ? 0x80 : 0;
  if (write) flags |= 0x20;
  if (!write && expected_in > 0) flags |= 0x40;
  std::uint8_t h[48];
  CommandHeader(h, cdb, flags, expected, tag);
  h[9] = static_cast<std::uint8_t>(lun);
  SendPdu(h, Bytes(data_out.begin(), data_out.begin() + immediate));
  auto send_data = [&](std::uint32_t ttt, std::uint32_t from, std::uint32_t to) {
    std::uint32_t data_sn = 0;
    for (std::uint32_t at = from; at < to;) {
      const std::uint32_t length = std::min(target_max_data, to - at);
      DataOutHeader(h, tag, ttt, data_sn++, at, at + length == to);
      SendPdu(h, Bytes(data_out.begin() + at, data_out.begin() + at + length));
      at += length;
    }
  };
  if (unsolicited > immediate) send_data(0xFFFFFFFF, immediate, unsolicited);
  for (;;) {
    Received pdu;
    if (!Read(&pdu)) return outcome;
    max_cmd_sn = pdu.Field(32);
    switch (pdu.opcode()) {
      case 0x31:  // R2T
        outcome.r2ts.push_back(pdu);
        send_data(pdu.Field(20), pdu.Field(40), pdu.Field(40) + pdu.Field(44));
        break;
      case 0x25:  // Data-In
        ++outcome.data_in_pdus;
        if (pdu.Field(40) != outcome.data.size()) return outcome;  // out of order: fails
        outcome.data.insert(outcome.data.end(), pdu.data.begin(), pdu.data.end());
        if ((pdu.flags() & 0x01) != 0) {
          outcome.answered = true;
          outcome.status = pdu.header[3];
          outcome.residual_flags = pdu.flags() & 0x06;
          outcome.residual = pdu.Field(44);
          exp_stat_sn = pdu.Field(24) + 1;
          return outcome;
        }
        break;
      case 0x21:  // SCSI Response
        outcome.answered = true;
        outcome.response = pdu.header[2];
        outcome.status = pdu.header[3];
        outcome.residual_flags = pdu.flags() & 0x06;
        outcome.residual = pdu.Field(44);
        if (pdu.data.size() >= 2) {
          const std::size_t length =
              std::min<std::size_t>(pdu.data[0] << 8 | pdu.data[1], pdu.data.size() - 2);
          outcome.sense.assign(pdu.data.begin() + 2, pdu.data.begin() + 2 + length);
        }
        exp_stat_sn = pdu.Field(24) + 1;
        return outcome;
      default:
        return outcome;
    }
  }
}

ServerOptions TestOptions() {
  ServerOptions options;
  options.port = 0;
  options.login_timeout_ms = 2000;
  return options;
}

ServedDrive::ServedDrive(const std::string& spec, TargetSettings settings,
                         const ServerOptions& options) {
  std::string error;
  std::unique_ptr<Drive> drive = Drive::Create(spec, &error);
  if (!drive) throw std::runtime_error(error);
  target_ = std::make_unique<Target>(std::move(drive), std::move(settings));
  server_ = std::make_unique<Server>(*target_);
  if (!server_->Listen(options, &error)) throw std::runtime_error(error);
  runner_ = std::thread([this] { server_->Run(); });
}

ServedDrive::~ServedDrive() {
  server_->Stop();
  runner_.join();
  server_.reset();
}

Program::Program(const std::string& spec, const std::vector<std::string>& options) {
  int out[2];
  if (pipe(out) != 0) return;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_addclose(&actions, out[0]);
  std::string path = ZORVANE_VDRIVE_PATH;
  std::vector<std::string> args = {path, "serve", "--listen", "127.0.0.1:0"};
  args.insert(args.end(), options.begin(), options.end());
  args.push_back(spec);
  std::vector<char*> argv;
  argv.reserve(args.size() + 1);
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  if (posix_spawn(&pid_, path.c_str(), &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  std::string line;
  char c = 0;
  while (read(out[0], &c, 1) == 1 && c != '\n') line += c;
  close(out[0]);
  const std::size_t colon = line.rfind(':');
  if (line.rfind("serving ", 0) == 0 && colon != std::string::npos) {
    port_ = static_cast<std::uint16_t>(std::stoi(line.substr(colon + 1)));
  }
}

void Program::Kill() {
  if (pid_ <= 0) return;
  kill(pid_, SIGKILL);
  waitpid(pid_, nullptr, 0);
  pid_ = -1;
}

bool Program::TerminatedWithin(int timeout_ms) {
  if (pid_ <= 0) return false;
  kill(pid_, SIGTERM);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  int status = 0;
  while (std::chrono::steady_clock::now() < deadline) {
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      return WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

long Program::Status(const char* field) const {
  std::ifstream status("/proc/" + std::to_string(pid_) + "/status");
  std::string word;
  while (status >> word) {
    if (word == field) {
      long kib = 0;
      status >> kib;
      return kib;
    }
  }
  return 0;
}

Bytes Inquiry(std::uint16_t allocation) {
  return {
      0x12, 0, 0, static_cast<std::uint8_t>(allocation >> 8), static_cast<std::uint8_t>(allocation),
      0};
}

Bytes Read10(std::uint32_t lba, std::uint16_t blocks) {
  Bytes cdb(10, 0);
  cdb[0] = 0x28;
  SetBe32(cdb.data() + 2, lba);
  cdb[7] = static_cast<std::uint8_t>(blocks >> 8);
  cdb[8] = static_cast<std::uint8_t>(blocks);
  return cdb;
}

Bytes Write10(std::uint32_t lba, std::uint16_t blocks) {
  Bytes cdb = Read10(lba, blocks);
  cdb[0] = 0x2A;
  return cdb;
}

Bytes TestUnitReady() {
  return Bytes(6, 0);
}

Bytes SynchronizeCache() {
  Bytes cdb(10, 0);
  cdb[0] = 0x35;
  return cdb;
}

Bytes PressedBlock(std::uint32_t lba) {
  Bytes block(2048);
  SetBe32(block.data(), lba);
  for (std::size_t k = 4; k < block.size(); ++k) {
    block[k] = static_cast<std::uint8_t>((k + 3 * lba) % 256);
  }
  return block;
}

}  // namespace zorvane::vdrive::server::test
