// The scripted port of the tests: records requests, replays queued answers.
#include "scripted_port.h"

#include <algorithm>

namespace tamlib {

void ScriptedPort::queueAnswer(int32_t answer)
{
    std::lock_guard lock(m_mutex);
    m_answers.push_back(answer);
}

void ScriptedPort::queueChoice(int32_t index)
{
    std::lock_guard lock(m_mutex);
    m_choices.push_back(index);
}

int32_t ScriptedPort::message(const MessageRequest& request)
{
    std::lock_guard lock(m_mutex);
    m_messages.push_back(request);
    if (m_answers.empty())
        return defaultAnswer(request.type);
    const int32_t answer = m_answers.front();
    m_answers.pop_front();
    return answer;
}

int32_t ScriptedPort::choose(const ChoiceRequest& request)
{
    std::lock_guard lock(m_mutex);
    m_choiceRequests.push_back(request);
    if (m_choices.empty())
        return request.current;
    const int32_t index = m_choices.front();
    m_choices.pop_front();
    return index;
}

void ScriptedPort::setItemText(void* dialog, int32_t item, const std::string& text)
{
    std::lock_guard lock(m_mutex);
    m_itemTexts.push_back({dialog, item, text});
}

std::vector<MessageRequest> ScriptedPort::messages() const
{
    std::lock_guard lock(m_mutex);
    return m_messages;
}

std::vector<ChoiceRequest> ScriptedPort::choices() const
{
    std::lock_guard lock(m_mutex);
    return m_choiceRequests;
}

std::vector<ScriptedPort::ItemText> ScriptedPort::itemTexts() const
{
    std::lock_guard lock(m_mutex);
    return m_itemTexts;
}

void ScriptedPort::clear()
{
    std::lock_guard lock(m_mutex);
    m_answers.clear();
    m_choices.clear();
    m_messages.clear();
    m_choiceRequests.clear();
    m_itemTexts.clear();
    m_adopts.clear();
    m_pluginAnswers.clear();
    m_adoptRequests.clear();
    m_pluginChoices.clear();
    m_progress.clear();
    m_doneRequests.clear();
    m_stopAfter = UINT64_MAX;
    m_stop = false;
    m_texts.reset();
    m_codecAnswers.clear();
    m_codecChoices.clear();
}

void ScriptedPort::queueAdopt(AdoptAnswer answer)
{
    std::lock_guard lock(m_mutex);
    m_adopts.push_back(answer);
}

void ScriptedPort::queuePlugins(std::vector<std::string> files)
{
    std::lock_guard lock(m_mutex);
    m_pluginAnswers.emplace_back(std::move(files));
}

void ScriptedPort::queuePluginCancel()
{
    std::lock_guard lock(m_mutex);
    m_pluginAnswers.emplace_back(std::nullopt);
}

void ScriptedPort::stopAfter(uint64_t calls)
{
    std::lock_guard lock(m_mutex);
    m_stopAfter = calls;
}

void ScriptedPort::setAnalysisTexts(std::string title, std::string prefix)
{
    std::lock_guard lock(m_mutex);
    m_texts.emplace(std::move(title), std::move(prefix));
}

AdoptAnswer ScriptedPort::adoptCdaz(const AdoptRequest& request)
{
    std::lock_guard lock(m_mutex);
    m_adoptRequests.push_back(request);
    if (m_adopts.empty())
        return request.defaultAnswer;
    const AdoptAnswer answer = m_adopts.front();
    m_adopts.pop_front();
    return answer;
}

bool ScriptedPort::choosePlugins(PluginChoiceRequest& request)
{
    std::lock_guard lock(m_mutex);
    m_pluginChoices.push_back(request);
    if (m_pluginAnswers.empty())
        return true;
    const std::optional<std::vector<std::string>> answer = m_pluginAnswers.front();
    m_pluginAnswers.pop_front();
    if (!answer)
        return false;
    std::vector<PluginChoiceRequest::Row> rows;
    for (const std::string& file : *answer)
        for (const PluginChoiceRequest::Row& row : request.rows)
            if (row.file == file)
                rows.push_back({row.name, row.file, true});
    for (const PluginChoiceRequest::Row& row : request.rows)
        if (std::find(answer->begin(), answer->end(), row.file) == answer->end())
            rows.push_back({row.name, row.file, false});
    request.rows = std::move(rows);
    return true;
}

void ScriptedPort::beginProgress(const std::string&, uint64_t) {}

void ScriptedPort::updateProgress(const ProgressState& state)
{
    std::lock_guard lock(m_mutex);
    m_progress.push_back(state);
}

void ScriptedPort::endProgress() {}

bool ScriptedPort::stopRequested()
{
    std::lock_guard lock(m_mutex);
    if (m_stopAfter == 0)
        m_stop = true;
    else if (m_stopAfter != UINT64_MAX)
        --m_stopAfter;
    return m_stop;
}

void ScriptedPort::analysisDone(AnalysisDoneRequest& request)
{
    std::lock_guard lock(m_mutex);
    m_doneRequests.push_back(request);
    if (m_texts) {
        request.title = m_texts->first;
        request.prefix = m_texts->second;
    }
}

std::vector<AdoptRequest> ScriptedPort::adoptRequests() const
{
    std::lock_guard lock(m_mutex);
    return m_adoptRequests;
}

std::vector<PluginChoiceRequest> ScriptedPort::pluginChoices() const
{
    std::lock_guard lock(m_mutex);
    return m_pluginChoices;
}

std::vector<ProgressState> ScriptedPort::progress() const
{
    std::lock_guard lock(m_mutex);
    return m_progress;
}

std::vector<AnalysisDoneRequest> ScriptedPort::analysisDoneRequests() const
{
    std::lock_guard lock(m_mutex);
    return m_doneRequests;
}

void ScriptedPort::queueCodecChoice(std::optional<CodecChoiceRequest> answer)
{
    std::lock_guard lock(m_mutex);
    m_codecAnswers.push_back(std::move(answer));
}

bool ScriptedPort::chooseVideoCodec(CodecChoiceRequest& request)
{
    std::lock_guard lock(m_mutex);
    m_codecChoices.push_back(request);
    if (m_codecAnswers.empty())
        return false;
    const std::optional<CodecChoiceRequest> answer = std::move(m_codecAnswers.front());
    m_codecAnswers.pop_front();
    if (!answer)
        return false;
    request.codec = answer->codec;
    request.keyFrameEvery = answer->keyFrameEvery;
    request.quality = answer->quality;
    request.dataRateKb = answer->dataRateKb;
    return true;
}

std::vector<CodecChoiceRequest> ScriptedPort::codecChoices() const
{
    std::lock_guard lock(m_mutex);
    return m_codecChoices;
}

} // namespace tamlib
