// The user-interface port of the tests: records every request the library makes and answers
// from queues, so that a test scripts the user.
#pragma once

#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "tamlib/ui_port.h"

namespace tamlib {

// For tests: records every request and answers from queues; an empty queue gives the default
// answer (messages) or the current item (choices).
class ScriptedPort : public UiPort
{
  public:
    struct ItemText
    {
        void* dialog;
        int32_t item;
        std::string text;
    };

    void queueAnswer(int32_t answer);
    void queueChoice(int32_t index);
    void queueAdopt(AdoptAnswer answer);
    // The next plugin choice: the files in this order, the others unchecked.
    void queuePlugins(std::vector<std::string> files);
    void queuePluginCancel();
    // stopRequested answers false `calls` times, then true (the analysis asks after every
    // sector it read).
    void stopAfter(uint64_t calls);
    void setAnalysisTexts(std::string title, std::string prefix);
    // The next codec choice: confirmed with the codec index (-1 uncompressed) and settings of
    // `answer`, or declined (nullopt). Without one queued the choice is declined.
    void queueCodecChoice(std::optional<CodecChoiceRequest> answer);

    int32_t message(const MessageRequest& request) override;
    int32_t choose(const ChoiceRequest& request) override;
    void setItemText(void* dialog, int32_t item, const std::string& text) override;
    AdoptAnswer adoptCdaz(const AdoptRequest& request) override;
    bool choosePlugins(PluginChoiceRequest& request) override;
    void beginProgress(const std::string& caption, uint64_t total) override;
    void updateProgress(const ProgressState& state) override;
    void endProgress() override;
    bool stopRequested() override;
    void analysisDone(AnalysisDoneRequest& request) override;
    bool chooseVideoCodec(CodecChoiceRequest& request) override;

    std::vector<MessageRequest> messages() const;
    std::vector<AdoptRequest> adoptRequests() const;
    std::vector<PluginChoiceRequest> pluginChoices() const;
    std::vector<ProgressState> progress() const;
    std::vector<AnalysisDoneRequest> analysisDoneRequests() const;
    std::vector<ChoiceRequest> choices() const;
    std::vector<ItemText> itemTexts() const;
    // The codec choices as the library asked them.
    std::vector<CodecChoiceRequest> codecChoices() const;
    void clear();

  private:
    mutable std::mutex m_mutex;
    std::deque<int32_t> m_answers;
    std::deque<int32_t> m_choices;
    std::vector<MessageRequest> m_messages;
    std::vector<ChoiceRequest> m_choiceRequests;
    std::vector<ItemText> m_itemTexts;
    std::deque<AdoptAnswer> m_adopts;
    std::deque<std::optional<std::vector<std::string>>> m_pluginAnswers;
    std::vector<AdoptRequest> m_adoptRequests;
    std::vector<PluginChoiceRequest> m_pluginChoices;
    std::vector<ProgressState> m_progress;
    std::vector<AnalysisDoneRequest> m_doneRequests;
    uint64_t m_stopAfter = UINT64_MAX;
    bool m_stop = false;
    std::optional<std::pair<std::string, std::string>> m_texts;
    std::deque<std::optional<CodecChoiceRequest>> m_codecAnswers;
    std::vector<CodecChoiceRequest> m_codecChoices;
};

} // namespace tamlib
