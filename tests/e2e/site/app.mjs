// Each step below needs the page to come over HTTP: from file:// the browser blocks this module
// (and fetch) before any of it runs, so the result paragraph keeps its "not run".
import { greeting } from "./greeting.mjs";

const result = document.getElementById("result");
try {
    const data = await (await fetch("data.json")).json();
    // add.wasm is hand-written: one exported function add(i32, i32) -> i32.
    //   00 61 73 6d 01 00 00 00                header, version 1
    //   01 07 01 60 02 7f 7f 01 7f             type section: (i32, i32) -> i32
    //   03 02 01 00                            function section: one function of type 0
    //   07 07 01 03 61 64 64 00 00             export section: "add" = function 0
    //   0a 09 01 07 00 20 00 20 01 6a 0b       code: local.get 0, local.get 1, i32.add, end
    const wasmBytes = await (await fetch("add.wasm")).arrayBuffer();
    const { instance } = await WebAssembly.instantiate(wasmBytes);
    result.textContent = `${greeting} ${data.word} wasm-add=${instance.exports.add(2, 3)}`;
    document.body.dataset.state = "done";
} catch (error) {
    result.textContent = `failed: ${error}`;
    document.body.dataset.state = "failed";
}
