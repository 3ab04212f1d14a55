#include "server/WebSocketInput.h"

#include "server/HttpRules.h"

#include <algorithm>

namespace Corvan
{

namespace
{

constexpr int Continuation = 0x0, Text = 0x1, Binary = 0x2, Close = 0x8, Ping = 0x9, Pong = 0xA;

// The codes a close may carry on the wire (1005, 1006 and 1015 only ever stand for a missing one).
bool IsCloseCode(int code)
{
    return (code >= 1000 && code <= 1003) || (code >= 1007 && code <= 1014) || (code >= 3000 && code <= 4999);
}

} // namespace

bool CWebSocketInput::Feed(const char* pData, std::size_t length, std::vector<CFrame>& replies)
{
    std::size_t i = 0;
    while (!m_ended && i < length)
    {
        if (m_head.size() < m_headSize)
        {
            m_head += pData[i++];
            if (m_head.size() == 2)
            {
                // A client masks every frame; the head's size follows from its second byte.
                const unsigned char second = static_cast<unsigned char>(m_head[1]);
                if (!(second & 0x80))
                    return Fail(ProtocolError, replies);
                const unsigned length7 = second & 0x7F;
                m_headSize = 2 + (length7 == 126 ? 2 : length7 == 127 ? 8 : 0) + 4;
            }
            if (m_head.size() < m_headSize)
                continue;
            if (const int code = CheckHead())
                return Fail(code, replies);
        }
        else
        {
            const std::size_t count = static_cast<std::size_t>(std::min<std::uint64_t>(m_left, length - i));
            TakePayload(pData + i, count);
            i += count;
            m_left -= count;
        }
        if (m_head.size() == m_headSize && m_left == 0 && !EndFrame(replies))
            return false;
    }
    return !m_ended;
}

int CWebSocketInput::CheckHead()
{
    const unsigned char first = static_cast<unsigned char>(m_head[0]);
    if (first & 0x70)
        return ProtocolError; // no extension was agreed on
    m_final = (first & 0x80) != 0;
    m_opcode = first & 0x0F;
    const unsigned length7 = static_cast<unsigned char>(m_head[1]) & 0x7F;
    const std::size_t lengthBytes = length7 == 126 ? 2 : length7 == 127 ? 8 : 0;
    std::uint64_t length = lengthBytes == 0 ? length7 : 0;
    for (std::size_t i = 0; i < lengthBytes; ++i)
        length = (length << 8) | static_cast<unsigned char>(m_head[2 + i]);
    if (lengthBytes == 8 && (static_cast<unsigned char>(m_head[2]) & 0x80))
        return ProtocolError;
    std::copy(m_head.end() - 4, m_head.end(), m_mask);
    m_left = length;
    m_read = 0;

    if (m_opcode >= Close)
        return m_opcode > Pong || !m_final || length > 125 ? ProtocolError : 0;
    if (m_opcode > Binary || (m_opcode == Continuation) != (m_messageOpcode >= 0))
        return ProtocolError; // unknown, a continuation of nothing, or a message inside a message
    if (m_opcode != Continuation)
    {
        m_messageOpcode = m_opcode;
        m_messageSize = 0;
    }
    m_messageSize += length;
    return m_messageSize > MaxMessageSize ? TooBig : 0;
}

void CWebSocketInput::TakePayload(const char* pData, std::size_t count)
{
    std::string* pKept = m_opcode >= Close ? &m_control : m_messageOpcode == Text ? &m_text : nullptr;
    for (std::size_t i = 0; pKept && i < count; ++i)
        *pKept += static_cast<char>(pData[i] ^ m_mask[(m_read + i) & 3]);
    m_read += count;
}

bool CWebSocketInput::EndFrame(std::vector<CFrame>& replies)
{
    m_head.clear();
    m_headSize = 2;
    if (m_opcode == Close)
        return AnswerClose(replies);
    if (m_opcode == Ping)
        replies.push_back({Pong, m_control});
    if (m_opcode >= Close)
    {
        m_control.clear();
        return true;
    }
    if (!m_final)
        return true;
    const bool valid = m_messageOpcode != Text || HttpRules::IsValidUtf8(m_text);
    m_messageOpcode = -1;
    m_text.clear();
    return valid || Fail(InvalidText, replies);
}

bool CWebSocketInput::AnswerClose(std::vector<CFrame>& replies)
{
    if (m_control.size() == 1)
        return Fail(ProtocolError, replies);
    if (m_control.size() >= 2)
    {
        const int code = (static_cast<unsigned char>(m_control[0]) << 8) | static_cast<unsigned char>(m_control[1]);
        if (!IsCloseCode(code))
            return Fail(ProtocolError, replies);
        if (!HttpRules::IsValidUtf8(m_control.substr(2)))
            return Fail(InvalidText, replies);
    }
    // The client's code comes back, as the standard suggests; its reason does not.
    replies.push_back({Close, m_control.substr(0, 2)});
    m_ended = true;
    return false;
}

bool CWebSocketInput::Fail(int code, std::vector<CFrame>& replies)
{
    replies.push_back({Close, std::string{static_cast<char>(code >> 8), static_cast<char>(code & 0xFF)}});
    m_ended = true;
    return false;
}

} // namespace Corvan
