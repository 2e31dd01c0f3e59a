#pragma once
// A small TCP client for development: it connects to a debug host and exchanges short text
// messages, each ended by a carriage return. The application delegate's test hook uses it
// to turn received messages into simulated scans; nothing else opens it.
//
// Threads: `connect` registers the socket with the calling thread's run loop; every event,
// read, write and block call then happens on that thread. Blocks may be set from any
// thread.
//
// Messages: bytes up to the delimiter make one message (the delimiter is not part of it);
// bytes after the last delimiter wait for more data and are dropped when the connection
// closes. Bytes are handed on as they came (no character-set conversion). A read error
// closes the connection like an end of stream.

#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "platform/foundation/Bytes.h"

namespace foundation { class RunLoop; }

namespace orvo {

class NetworkController {
 public:
  using MessageBlock = std::function<void(NetworkController&, const std::string&)>;
  using ConnectionBlock = std::function<void(NetworkController&)>;

  // The debug port.
  static constexpr int kDebugPort = 55056;
  static constexpr size_t kReadChunk = 1024;

  // The process's controller: the host is KESTRA_DEBUG_HOST, or 127.0.0.1.
  static NetworkController& sharedInstance();

  NetworkController(std::string host, int port);
  ~NetworkController();
  NetworkController(const NetworkController&) = delete;
  NetworkController& operator=(const NetworkController&) = delete;

  // Opens the connection when it is not connected; when that fails at once the failed
  // block is called. A connection being opened is left alone.
  void connect();
  void disconnect();
  // Queues `message` and the delimiter; they leave as soon as the connection is open.
  void sendMessage(const std::string& message);
  bool isConnected() const { return isInputStreamOpen_ && isOutputStreamOpen_; }

  void setMessageReceivedBlock(MessageBlock b);
  void setConnectionOpenedBlock(ConnectionBlock b);
  void setConnectionFailedBlock(ConnectionBlock b);
  void setConnectionClosedBlock(ConnectionBlock b);

  const std::string& host() const { return host_; }
  int port() const { return port_; }
  const std::string& messageDelimiter() const { return messageDelimiter_; }

 private:
  bool openConnection();
  void closeConnection();
  void finishOpeningConnection();
  void readFromStreamToInputBuffer();
  void parseIncomingData();
  void writeOutputBufferToStream();
  void notifyConnectionBlock(const ConnectionBlock& block);
  void handleEvent(uint32_t events);

  std::string host_;
  int port_;
  int fd_ = -1;
  bool opening_ = false;
  foundation::RunLoop* loop_ = nullptr;
  foundation::Bytes inputBuffer_;
  bool isInputStreamOpen_ = false;
  foundation::Bytes outputBuffer_;
  bool isOutputStreamOpen_ = false;
  mutable std::mutex blocksMutex_;
  MessageBlock messageReceivedBlock_;
  ConnectionBlock connectionOpenedBlock_;
  ConnectionBlock connectionFailedBlock_;
  ConnectionBlock connectionClosedBlock_;
  std::string messageDelimiter_ = "\r";
};

}  // namespace orvo
