#pragma once

// Captures what the logger writes: standard error (the system log's echo)
// and the copies pushed to its ZeroMQ socket.

#include "core/logger.hpp"

#include <gtest/gtest.h>
#include <zmq.hpp>

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <optional>
#include <string>

namespace trackmend_test {

// Redirects file descriptor 2 to a temporary file while it exists.
class stderr_capture
{
public:
    stderr_capture() : m_file(std::tmpfile()), m_saved(::dup(STDERR_FILENO))
    {
        ::dup2(::fileno(m_file), STDERR_FILENO);
    }
    ~stderr_capture()
    {
        ::dup2(m_saved, STDERR_FILENO);
        ::close(m_saved);
        std::fclose(m_file);
    }
    stderr_capture(const stderr_capture&) = delete;
    stderr_capture& operator=(const stderr_capture&) = delete;

    // Everything written so far.
    std::string text() const
    {
        std::string result(static_cast<std::size_t>(::lseek(::fileno(m_file), 0, SEEK_END)), '\0');
        const auto n = ::pread(::fileno(m_file), result.data(), result.size(), 0);
        result.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
        return result;
    }

private:
    std::FILE* m_file;
    int m_saved;
};

// A PULL socket on a loopback port that the logger's PUSH socket connects to.
// Declare it after the logger, so that it goes first.
class log_socket
{
public:
    explicit log_socket(zav::libs::core::logger& _logger) : m_socket(m_context, zmq::socket_type::pull)
    {
        m_socket.set(zmq::sockopt::linger, 0);
        m_socket.bind("tcp://127.0.0.1:*");
        _logger.connect(m_socket.get(zmq::sockopt::last_endpoint));
        // connect() logs this at debug level, through the socket itself.
        EXPECT_EQ(next(), "&trackmend:main Connected to socket");
    }

    // The next message, or nothing within _timeout.
    std::optional<std::string> receive(std::chrono::milliseconds _timeout = std::chrono::seconds(5))
    {
        zmq::pollitem_t item{m_socket.handle(), 0, ZMQ_POLLIN, 0};
        zmq::message_t message;
        if (zmq::poll(&item, 1, _timeout) == 0 || !m_socket.recv(message, zmq::recv_flags::dontwait))
            return std::nullopt;
        return message.to_string();
    }

    // The next message without its date: "&module:component rest".
    std::string next()
    {
        const auto line = receive();
        if (!line) return "<nothing>";
        const auto blank = line->find(' ');
        constexpr std::size_t date_length = 24;  // "YYYY-MM-DD hh:mm:ss.mmm "
        if (blank == std::string::npos || line->size() < blank + 1 + date_length) return *line;
        return line->substr(0, blank + 1) + line->substr(blank + 1 + date_length);
    }

    // Whether no message arrives within a short grace period.
    bool is_quiet() { return !receive(std::chrono::milliseconds(50)).has_value(); }

private:
    zmq::context_t m_context;
    zmq::socket_t m_socket;
};

}  // namespace trackmend_test
