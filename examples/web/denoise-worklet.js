// An AudioWorkletProcessor that cleans the microphone: one Suppressor with
// 'fixed' delivery, so that every 128-sample render quantum gives 128
// samples back, `latency` samples late. Until the engine has loaded, the
// processor outputs silence.
import { init, Suppressor } from '../../js/core.js';

const ready = init();

class DenoiseProcessor extends AudioWorkletProcessor {
  constructor(options) {
    super();
    this.suppressor = null;
    this.bypass = false;
    this.blocks = 0;
    this.speechBlocks = 0;
    const parameters = options.processorOptions || {};
    ready.then(() => {
      // sampleRate is the audio context's rate, a global of this scope.
      this.suppressor = new Suppressor({ rate: sampleRate, delivery: 'fixed', ...parameters });
      this.port.postMessage({ ready: true, latency: this.suppressor.latency, block: this.suppressor.block });
    }, (error) => this.port.postMessage({ error: String(error) }));
    this.port.onmessage = ({ data }) => {
      if ('bypass' in data) this.bypass = data.bypass;
      if (data.parameters && this.suppressor) {
        try {
          this.suppressor.reset(data.parameters);
        } catch (error) {
          this.port.postMessage({ error: String(error) });
        }
      }
    };
  }

  process(inputs, outputs) {
    const input = inputs[0][0], output = outputs[0];
    if (!input || !this.suppressor) {
      for (const channel of output) channel.fill(0);
      return true;
    }
    // Cleaned either way, so that the noise estimate stays current.
    const cleaned = this.suppressor.process(input);
    const speech = this.suppressor.speech;
    for (const channel of output) channel.set(this.bypass ? input : cleaned);
    if (speech.length) {
      this.blocks += speech.length;
      this.speechBlocks += speech.reduce((a, b) => a + b, 0);
      if (this.blocks >= 50) {
        this.port.postMessage({ blocks: this.blocks, speech: this.speechBlocks });
        this.blocks = this.speechBlocks = 0;
      }
    }
    return true;
  }
}

registerProcessor('tarnwelnc-denoiser', DenoiseProcessor);
