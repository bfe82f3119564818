-- Started with the file to check as the current buffer: attaches the
-- language server given in $QUENDAL_LSP_CMD (a JSON list) through Neovim's
-- built-in client, waits for its diagnostics and writes them, as JSON, to
-- $QUENDAL_NVIM_OUT; then quits.
local cmd = vim.fn.json_decode(vim.env.QUENDAL_LSP_CMD)
local out = vim.env.QUENDAL_NVIM_OUT
local buffer = vim.api.nvim_get_current_buf()

local client = vim.lsp.start_client({
  name = "quendal",
  cmd = cmd,
  root_dir = vim.fn.getcwd(),
})
vim.lsp.buf_attach_client(buffer, client)

local arrived = vim.wait(20000, function()
  return #vim.diagnostic.get(buffer) > 0
end, 50)

local found = {}
for _, d in ipairs(vim.diagnostic.get(buffer)) do
  table.insert(found, {
    lnum = d.lnum,
    col = d.col,
    end_lnum = d.end_lnum,
    end_col = d.end_col,
    severity = d.severity,
    message = d.message,
    code = d.code or (d.user_data and d.user_data.lsp and d.user_data.lsp.code),
  })
end
vim.fn.writefile({ vim.fn.json_encode({ arrived = arrived, diagnostics = found }) }, out)
vim.lsp.stop_client(client)
vim.cmd("qa!")
