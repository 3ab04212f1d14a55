#pragma once

// What a socket that only sends makes of its client's frames, as RFC 6455 has it: a ping is
// answered with a pong, a close with a close that ends the socket, and a small message is read
// and dropped. A frame above a small size and any protocol error end the socket with a close
// that says why. Pure: bytes in, frames to send out, so every odd frame can be checked on its own;
// memory stays at a few KiB whatever a client announces.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace Corvan
{

class CWebSocketInput
{
public:
    // A page's socket has nothing to say; this bounds what a client may send in one message.
    static constexpr std::uint64_t MaxMessageSize = 4096;

    // Close codes this side sends.
    static constexpr int ProtocolError = 1002;
    static constexpr int InvalidText = 1007;
    static constexpr int TooBig = 1009;

    struct CFrame
    {
        int opcode = 0; // 0x8 close, 0xA pong
        std::string payload;
    };

    // Reads the next bytes from the client and appends the frames to send back to `replies`.
    // Returns false once the socket must end: `replies` then ends with a close (to leave out if
    // this side has sent its own close already). Nothing more may be fed after that.
    bool Feed(const char* pData, std::size_t length, std::vector<CFrame>& replies);

private:
    // Checks a complete frame head; 0 when it is acceptable, else the close code.
    int CheckHead();
    void TakePayload(const char* pData, std::size_t count);
    // A whole frame arrived (a control frame's payload in m_control, a text message's in m_text).
    bool EndFrame(std::vector<CFrame>& replies);
    bool AnswerClose(std::vector<CFrame>& replies);
    bool Fail(int code, std::vector<CFrame>& replies);

    std::string m_head; // the frame head so far, up to 14 bytes
    std::size_t m_headSize = 2;
    int m_opcode = 0;
    bool m_final = false;
    std::uint64_t m_left = 0; // payload bytes still to come
    std::uint64_t m_read = 0; // payload bytes of this frame so far, for the mask
    unsigned char m_mask[4] = {0, 0, 0, 0};
    std::string m_control;    // a control frame's payload (at most 125 bytes)
    std::string m_text;       // a text message's payload (at most MaxMessageSize)
    int m_messageOpcode = -1; // the data message under way, -1 for none
    std::uint64_t m_messageSize = 0;
    bool m_ended = false;
};

} // namespace Corvan
